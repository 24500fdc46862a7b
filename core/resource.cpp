// Package resources, found by id in the executable and used in place.
#include "setup.h"

const unsigned char* LockDataResource(int id, uint32_t* size)
{
    *size = 0;
    HRSRC found = FindResourceA(g_setup.instance, MAKEINTRESOURCEA(id), (LPCSTR)RT_RCDATA);
    if (!found)
        return 0;
    HGLOBAL loaded = LoadResource(g_setup.instance, found);
    const unsigned char* data = loaded ? (const unsigned char*)LockResource(loaded) : 0;
    if (data)
        *size = SizeofResource(g_setup.instance, found);
    return data;
}
