// A DLL that only tells that it was loaded. The safe-loading test plants
// copies of it beside setup.exe under the names of system DLLs: when a copy
// is loaded, it leaves an empty file named after itself (comctl32.dll.loaded)
// in the folder named by MURM_MARKER_DIR, and does nothing else.
//
// It imports nothing but KERNEL32 and links no run-time library, so that a
// copy named after any other system DLL can still be loaded and run.
#include <windows.h>

extern "C" BOOL WINAPI MarkerEntry(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char folder[MAX_PATH];
    char module[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("MURM_MARKER_DIR", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    length = GetModuleFileNameA(self, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    const char* name = module;
    for (const char* p = module; *p; ++p)
        if (*p == '\\' || *p == '/')
            name = p + 1;
    char path[2 * MAX_PATH + 16];
    lstrcpyA(path, folder);
    lstrcatA(path, "\\");
    lstrcatA(path, name);
    lstrcatA(path, ".loaded");
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    // Loading goes on: a caller that finds our DLL in place of the system's
    // fails later, on a missing export, after the file is written.
    return TRUE;
}
