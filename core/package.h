// Layouts of the package's data resources, and bounded readers over them.
//
// Portable on purpose: no windows.h and no library beyond the freestanding
// headers, so the same code serves the setup's readers, the host package
// builder, the native tests and the fuzzers. Every reader takes the
// resource's size and never touches a byte outside [data, data + size).
#ifndef MURM_PACKAGE_H
#define MURM_PACKAGE_H

#include <stddef.h>
#include <stdint.h>

// PayloadArchive: total, count, then count entries back to back:
// a 260-byte NUL-padded name, a 32-bit size and the file's bytes.
const uint32_t ARCHIVE_HEADER_SIZE = 8;
const uint32_t ENTRY_NAME_SIZE = 260;
const uint32_t ENTRY_HEADER_SIZE = ENTRY_NAME_SIZE + 4;
// Longest name or setup string: 259 bytes and its NUL fill 260.
const uint32_t MAX_NAME_LENGTH = ENTRY_NAME_SIZE - 1;
// SetupStrings holds exactly this many strings, with no count.
const int SETUP_STRING_COUNT = 6;

// Little-endian 32-bit numbers. Inline: the image checksum reads every word
// of a file through ReadUint32, and on x86 it is a single load, shorter
// than a call even where the setup is built for size.
__attribute__((always_inline)) inline uint32_t ReadUint32(const unsigned char* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) |
           ((uint32_t)p[3] << 24);
}

inline void WriteUint32(unsigned char* p, uint32_t value)
{
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
    p[2] = (unsigned char)(value >> 16);
    p[3] = (unsigned char)(value >> 24);
}

// Header of a PayloadArchive; false when fewer than 8 bytes.
bool ReadArchiveHeader(const unsigned char* data, uint32_t size,
                       uint32_t* total, uint32_t* count);

struct ArchiveEntry {
    const char* name;            // NUL-terminated within its field
    uint32_t size;
    const unsigned char* bytes;  // size bytes, all inside the resource
};

// Reads the entry at *offset (ARCHIVE_HEADER_SIZE for the first) and moves
// *offset behind it. False, with *offset unchanged, when the entry does not
// lie wholly inside the resource or its name has no NUL in its field.
bool NextArchiveEntry(const unsigned char* data, uint32_t size,
                      uint32_t* offset, ArchiveEntry* entry);

// GroupLinkList: count, then count (target, name) pairs of NUL-terminated
// strings. ReadLinkCount is false when fewer than 4 bytes.
bool ReadLinkCount(const unsigned char* data, uint32_t size, uint32_t* count);
// Reads the pair at *offset (4 for the first) and moves behind it; false,
// with *offset unchanged, when either string is not terminated inside.
bool NextGroupLink(const unsigned char* data, uint32_t size, uint32_t* offset,
                   const char** target, const char** name);

// The NUL-terminated string at *offset, moving *offset behind its NUL;
// null, with *offset unchanged, when no NUL follows inside the resource.
const char* NextString(const unsigned char* data, uint32_t size,
                       uint32_t* offset);

// SetupStrings: fills strings[0..5]; a string missing or unterminated in a
// damaged resource, and every one after it, becomes "". Returns how many
// were read intact.
int ReadSetupStrings(const unsigned char* data, uint32_t size,
                     const char* strings[SETUP_STRING_COUNT]);

// Display name: the resource's first string, or "" when it has no NUL.
const char* ReadDisplayName(const unsigned char* data, uint32_t size);

// True when Windows takes a file or folder name of length bytes for a
// device (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9): the part before its
// first dot, without the spaces that end it, is one of those, in any case.
// Neither the package builder nor the setup accepts such a name.
bool IsDeviceName(const char* name, size_t length);

// progress + floor(100 * size / total) without overflow for any 32-bit
// values, saturating at 0xFFFFFFFF; a total of 0 adds nothing.
uint32_t AddProgressShare(uint32_t progress, uint32_t size, uint32_t total);

#endif
