// Package resources, found by id in the executable and used in place.
#include "setup.h"

const unsigned char* LockDataResource(int id, uint32_t* size)
{
    HINSTANCE instance = g_setup.instance;
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(id), (LPCSTR)RT_RCDATA);
    // What LoadResource answers is the data's address (null for a resource
    // that could not be loaded): LockResource only hands its argument back.
    const unsigned char* data = found ? (const unsigned char*)LoadResource(instance, found) : 0;
    *size = data ? SizeofResource(instance, found) : 0;
    return data;
}
