// The yardstick for the setup's copy: writes every entry of the payload
// archive in its own resources into the current folder in the plainest way
// the platform offers, one CreateFileA and one WriteFile per file, straight
// from the locked resource. Linked like setup.exe, so that the two load and
// map their images alike. Exits with the microseconds the writing took
// (0xFFFFFFFF when a file could not be written).
#include <windows.h>

#include "core/package.h"

static const UINT FAILED_WRITE = 0xFFFFFFFFu;

static UINT WriteArchive()
{
    HMODULE self = GetModuleHandleA(0);
    HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(114), (LPCSTR)RT_RCDATA);
    if (!found)
        return FAILED_WRITE;
    const unsigned char* data = (const unsigned char*)LockResource(LoadResource(self, found));
    uint32_t size = SizeofResource(self, found);
    uint32_t total, count;
    if (!ReadArchiveHeader(data, size, &total, &count))
        return FAILED_WRITE;
    uint32_t offset = ARCHIVE_HEADER_SIZE;
    ArchiveEntry entry;
    for (uint32_t i = 0; i < count && NextArchiveEntry(data, size, &offset, &entry); ++i) {
        HANDLE file = CreateFileA(entry.name, GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, 0);
        DWORD written = 0;
        BOOL ok = WriteFile(file, entry.bytes, entry.size, &written, 0);
        CloseHandle(file);
        if (file == INVALID_HANDLE_VALUE || !ok || written != entry.size)
            return FAILED_WRITE;
    }
    return 0;
}

extern "C" __attribute__((used)) void WinMainCRTStartup()
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    UINT result = WriteArchive();
    QueryPerformanceCounter(&end);
    if (result == 0)
        result = (UINT)((uint64_t)(end.QuadPart - start.QuadPart) * 1000000u /
                        (uint64_t)frequency.QuadPart);
    ExitProcess(result);
}
