// The compiler may emit calls to these for struct copies, zeroing and
// string loops; setup.exe links no C library, so it carries its own.
#include <stddef.h>

extern "C" void* memset(void* destination, int value, size_t count)
{
    unsigned char* p = (unsigned char*)destination;
    while (count--)
        *p++ = (unsigned char)value;
    return destination;
}

extern "C" void* memcpy(void* destination, const void* source, size_t count)
{
    unsigned char* d = (unsigned char*)destination;
    const unsigned char* s = (const unsigned char*)source;
    while (count--)
        *d++ = *s++;
    return destination;
}

extern "C" size_t strlen(const char* text)
{
    size_t length = 0;
    while (text[length])
        ++length;
    return length;
}
