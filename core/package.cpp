// Bounded readers over the package's data resources. Nothing here trusts a
// count, a size or a terminator: each is checked against the resource's
// size before a byte behind it is read.
#include "package.h"

bool ReadArchiveHeader(const unsigned char* data, uint32_t size,
                       uint32_t* total, uint32_t* count)
{
    if (!data || size < ARCHIVE_HEADER_SIZE)
        return false;
    *total = ReadUint32(data);
    *count = ReadUint32(data + 4);
    return true;
}

// Length of the string at data[offset], or -1 when no NUL lies before limit.
static int32_t BoundedLength(const unsigned char* data, uint32_t offset, uint32_t limit)
{
    for (uint32_t i = offset; i < limit; ++i)
        if (data[i] == 0)
            return (int32_t)(i - offset);
    return -1;
}

const char* NextString(const unsigned char* data, uint32_t size, uint32_t* offset)
{
    if (!data || *offset >= size)
        return 0;
    int32_t length = BoundedLength(data, *offset, size);
    if (length < 0)
        return 0;
    const char* text = (const char*)(data + *offset);
    *offset += (uint32_t)length + 1;
    return text;
}

bool NextArchiveEntry(const unsigned char* data, uint32_t size,
                      uint32_t* offset, ArchiveEntry* entry)
{
    uint32_t start = *offset;
    // Subtractions only: start + ENTRY_HEADER_SIZE could wrap.
    if (start > size || size - start < ENTRY_HEADER_SIZE)
        return false;
    // A name whose NUL lies in its field; null data has none.
    uint32_t nameEnd = start;
    const char* name = NextString(data, start + ENTRY_NAME_SIZE, &nameEnd);
    if (!name)
        return false;
    uint32_t length = ReadUint32(data + start + ENTRY_NAME_SIZE);
    uint32_t dataStart = start + ENTRY_HEADER_SIZE;
    if (length > size - dataStart)
        return false;
    entry->name = name;
    entry->size = length;
    entry->bytes = data + dataStart;
    *offset = dataStart + length;
    return true;
}

bool ReadLinkCount(const unsigned char* data, uint32_t size, uint32_t* count)
{
    if (!data || size < 4)
        return false;
    *count = ReadUint32(data);
    return true;
}

bool NextGroupLink(const unsigned char* data, uint32_t size, uint32_t* offset,
                   const char** target, const char** name)
{
    uint32_t cursor = *offset;
    const char* t = NextString(data, size, &cursor);
    const char* n = t ? NextString(data, size, &cursor) : 0;
    if (!n)
        return false;
    *target = t;
    *name = n;
    *offset = cursor;
    return true;
}

int ReadSetupStrings(const unsigned char* data, uint32_t size,
                     const char* strings[SETUP_STRING_COUNT])
{
    uint32_t offset = 0;
    int intact = 0;
    for (int i = 0; i < SETUP_STRING_COUNT; ++i) {
        const char* text = intact == i ? NextString(data, size, &offset) : 0;
        if (text)
            ++intact;
        strings[i] = text ? text : "";
    }
    return intact;
}

const char* ReadDisplayName(const unsigned char* data, uint32_t size)
{
    uint32_t offset = 0;
    const char* name = NextString(data, size, &offset);
    return name ? name : "";
}

uint32_t AddProgressShare(uint32_t progress, uint32_t size, uint32_t total)
{
    if (total == 0)
        return progress;
    // A damaged archive may hold an entry larger than its total; its share
    // may then not fit in 32 bits, and the sum saturates rather than wrap
    // back.
    const uint64_t product = (uint64_t)size * 100u;
    if ((uint32_t)(product >> 32) >= total)
        return 0xFFFFFFFFu;
    uint32_t share;
#if defined(__i386__)
    // The quotient fits in 32 bits, so the processor's own division of a
    // 64-bit number by a 32-bit one gives it; C would call a library
    // routine for the 64-bit division.
    uint32_t remainder;
    __asm__("divl %2" : "=a"(share), "=d"(remainder) : "rm"(total), "A"(product));
#else
    share = (uint32_t)(product / total);
#endif
    const uint32_t sum = progress + share;
    return sum < share ? 0xFFFFFFFFu : sum;
}

bool IsDeviceName(const char* name, size_t length)
{
    size_t base = 0;
    while (base < length && name[base] != '.')
        ++base;
    while (base > 0 && name[base - 1] == ' ')
        --base;
    // Three letters, or for COM1 to COM9 and LPT1 to LPT9 four, the last
    // a digit.
    if (base - 3 > 1 || (base == 4 && (name[3] < '1' || name[3] > '9')))
        return false;
    // The three letters as one number, the first in the lowest byte, and
    // 1 above them for a numbered device. Clearing bit 5 makes a letter
    // upper case, and nothing else a letter.
    uint32_t key = (uint32_t)(base - 3);
    for (int i = 3; i-- > 0;)
        key = key << 8 | ((unsigned char)name[i] & ~0x20u);
    static const uint32_t DEVICES[] = {
        'C' | 'O' << 8 | 'N' << 16, 'P' | 'R' << 8 | 'N' << 16,
        'A' | 'U' << 8 | 'X' << 16, 'N' | 'U' << 8 | 'L' << 16,
        'C' | 'O' << 8 | 'M' << 16 | 1 << 24, 'L' | 'P' << 8 | 'T' << 16 | 1 << 24};
    for (uint32_t device : DEVICES)
        if (key == device)
            return true;
    return false;
}
