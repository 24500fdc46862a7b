// The setup's check of its own file. A setup travels through mirrors,
// proxies, USB sticks and download managers that resume badly; one that
// arrives damaged must say so instead of installing what it carries. The
// sum is the image checksum that the PE header already holds, written by
// the build and kept right by signing.
#include "setup.h"
#include "checksum.h"

#include <stddef.h>

// The reader's offsets are the system's own structures' offsets.
static_assert(offsetof(IMAGE_DOS_HEADER, e_lfanew) == PE_SIGNATURE_POINTER, "e_lfanew");
static_assert(offsetof(IMAGE_NT_HEADERS32, FileHeader) == PE_FILE_HEADER_OFFSET, "file header");
static_assert(offsetof(IMAGE_NT_HEADERS32, OptionalHeader) == PE_OPTIONAL_HEADER_OFFSET,
              "PE32 optional header");
static_assert(offsetof(IMAGE_NT_HEADERS64, OptionalHeader) == PE_OPTIONAL_HEADER_OFFSET,
              "PE32+ optional header");
static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, CheckSum) == PE_OPTIONAL_CHECKSUM, "PE32 CheckSum");
static_assert(offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum) == PE_OPTIONAL_CHECKSUM,
              "PE32+ CheckSum");

// The file is read through views of this size, a multiple of the
// allocation granularity: a payload can be nearly 2 GB, and the loader has
// already mapped the whole image into a 32-bit process's address space.
static const uint32_t VIEW_SIZE = 16u << 20;

// Linux maps a file's cached pages into a view about five times faster
// when the view starts on a 2 MiB boundary of the address space (whole
// large pages at a time), so under Wine each view is asked for at such a
// boundary first; Windows takes any multiple of its allocation granularity.
static const unsigned char* MapView(HANDLE mapping, uint32_t offset, uint32_t count)
{
    const UINT_PTR boundary = 2u << 20;
    void* spot = VirtualAlloc(0, count + boundary, MEM_RESERVE, PAGE_NOACCESS);
    void* aligned = (void*)(((UINT_PTR)spot + boundary - 1) & ~(boundary - 1));
    VirtualFree(spot, 0, MEM_RELEASE);
    void* view = spot ? MapViewOfFileEx(mapping, FILE_MAP_READ, 0, offset, count, aligned) : 0;
    if (!view)
        view = MapViewOfFileEx(mapping, FILE_MAP_READ, 0, offset, count, 0);
    return (const unsigned char*)view;
}

bool VerifyImageFile(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // Images end below 4 GiB; a size the low word cannot hold is no setup.
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    bool ok = high == 0 && size != INVALID_FILE_SIZE && size > 0;
    HANDLE mapping = ok ? CreateFileMappingW(file, 0, PAGE_READONLY, 0, 0, 0) : 0;
    ok = mapping != 0;
    const uint32_t length = ok ? size : 0;
    uint32_t stored = 0;
    // Not on the stack: its 64-bit sum would make the function align it.
    static ImageChecksum checksum;
    // Stepping by what was read: offset + count never passes length, so it
    // cannot wrap at the 32-bit limit.
    uint32_t count = 0;
    for (uint32_t offset = 0; ok && offset < length; offset += count) {
        count = length - offset < VIEW_SIZE ? length - offset : VIEW_SIZE;
        const unsigned char* view = MapView(mapping, offset, count);
        if (!view) {
            ok = false;
            break;
        }
        if (offset == 0) {
            uint32_t field;
            ok = FindChecksumField(view, count, &field);
            if (ok) {
                stored = ReadUint32(view + field);
                BeginImageChecksum(&checksum, field);
            }
        }
        if (ok)
            AddImageChecksum(&checksum, view, count);
        UnmapViewOfFile(view);
    }
    if (mapping)
        CloseHandle(mapping);
    CloseHandle(file);
    // A sum of 0 means the build never set one: nothing vouches for the file.
    return ok && stored != 0 && EndImageChecksum(&checksum) == stored;
}

bool VerifyOwnFile()
{
    // The wide form and the longest path there is: a folder name outside
    // the ANSI code page, or a deep one, must not make a good file look
    // damaged. Zero-initialised, so it takes no room in the file; and far
    // too large for a stack frame.
    static wchar_t path[32768];
    const DWORD capacity = sizeof path / sizeof path[0];
    DWORD length = GetModuleFileNameW(0, path, capacity);
    return length > 0 && length < capacity && VerifyImageFile(path);
}
