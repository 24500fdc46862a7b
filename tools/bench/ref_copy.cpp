// The yardsticks for the setup's copying page, one program per package,
// run in the installation folder. Without arguments it writes every entry
// of the payload archive in its own resources into the current folder in
// the plainest way the platform offers, one CreateFileA and one WriteFile
// per file, straight from the locked resource. With the argument "links"
// it makes what the setup's shortcut step makes, through the same system
// calls and nothing else: the program group's folder, the package's group
// shortcuts and the uninstall entry's key with its two values. Linked like
// setup.exe, so that the two load and map their images alike. Exits with
// the microseconds the work took (0xFFFFFFFF when something could not be
// made).
#include <windows.h>
#include <shlobj.h>

#include "core/package.h"
#include "core/texts.h"
#include "resources/ids.h"

static const UINT FAILED = 0xFFFFFFFFu;

static const unsigned char* LockData(int id, uint32_t* size)
{
    HMODULE self = GetModuleHandleA(0);
    HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(id), (LPCSTR)RT_RCDATA);
    *size = found ? SizeofResource(self, found) : 0;
    return found ? (const unsigned char*)LockResource(LoadResource(self, found)) : 0;
}

static UINT WriteArchive()
{
    uint32_t size, total, count;
    const unsigned char* data = LockData(IDR_PAYLOAD, &size);
    if (!data || !ReadArchiveHeader(data, size, &total, &count))
        return FAILED;
    uint32_t offset = ARCHIVE_HEADER_SIZE;
    ArchiveEntry entry;
    for (uint32_t i = 0; i < count && NextArchiveEntry(data, size, &offset, &entry); ++i) {
        HANDLE file = CreateFileA(entry.name, GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, 0);
        DWORD written = 0;
        BOOL ok = WriteFile(file, entry.bytes, entry.size, &written, 0);
        CloseHandle(file);
        if (file == INVALID_HANDLE_VALUE || !ok || written != entry.size)
            return FAILED;
    }
    return 0;
}

static bool SaveLink(const char* link, const char* target, const char* folder)
{
    IShellLinkA* shellLink = 0;
    IPersistFile* file = 0;
    static WCHAR wide[MAX_PATH];
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER,
                                         IID_IShellLinkA, (void**)&shellLink)) &&
              SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, (void**)&file)) &&
              SUCCEEDED(shellLink->SetPath(target)) &&
              SUCCEEDED(shellLink->SetWorkingDirectory(folder)) &&
              MultiByteToWideChar(CP_ACP, 0, link, -1, wide, MAX_PATH) > 0 &&
              SUCCEEDED(file->Save(wide, TRUE));
    if (file)
        file->Release();
    if (shellLink)
        shellLink->Release();
    return ok;
}

static UINT MakeLinksAndKeys()
{
    // Not on the stack: built like the setup, this program has no stack probes.
    static char here[MAX_PATH], group[MAX_PATH], link[2 * MAX_PATH], target[2 * MAX_PATH];
    static char key[2 * MAX_PATH], command[2 * MAX_PATH];
    uint32_t size, nameSize, stringsSize, count, offset = 4;
    const unsigned char* links = LockData(IDR_GROUP_LINKS, &size);
    const unsigned char* nameData = LockData(IDR_DISPLAY_NAME, &nameSize);
    const unsigned char* stringsData = LockData(IDR_SETUP_STRINGS, &stringsSize);
    const char* name = ReadDisplayName(nameData, nameSize);
    const char* strings[SETUP_STRING_COUNT];
    ReadSetupStrings(stringsData, stringsSize, strings);
    if (!GetCurrentDirectoryA(MAX_PATH, here) ||
        !SHGetSpecialFolderPathA(0, group, CSIDL_PROGRAMS, FALSE) ||
        lstrlenA(group) + lstrlenA(DEFAULT_GROUP_NAME) + 2 > MAX_PATH || FAILED(OleInitialize(0)))
        return FAILED;
    lstrcatA(lstrcatA(group, "\\"), DEFAULT_GROUP_NAME);
    if (!CreateDirectoryA(group, 0) && GetLastError() != ERROR_ALREADY_EXISTS)
        return FAILED;
    const char* linkTarget;
    const char* linkName;
    if (links && ReadLinkCount(links, size, &count))
        for (uint32_t i = 0; i < count && NextGroupLink(links, size, &offset, &linkTarget, &linkName);
             ++i) {
            wsprintfA(link, "%s\\%s.lnk", group, linkName);
            wsprintfA(target, "%s\\%s", here, linkTarget);
            if (!SaveLink(link, target, here))
                return FAILED;
        }
    wsprintfA(key, "%s\\%s", UNINSTALL_KEY, name);
    wsprintfA(command, "\"%s\\%s\"", here, strings[5]);
    HKEY opened;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, 0, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, 0,
                        &opened, 0) != ERROR_SUCCESS)
        return FAILED;
    bool ok = RegSetValueExA(opened, "DisplayName", 0, REG_SZ, (const BYTE*)name,
                             lstrlenA(name) + 1) == ERROR_SUCCESS &&
              RegSetValueExA(opened, "UninstallString", 0, REG_SZ, (const BYTE*)command,
                             lstrlenA(command) + 1) == ERROR_SUCCESS;
    RegCloseKey(opened);
    return ok ? 0 : FAILED;
}

extern "C" __attribute__((used)) void WinMainCRTStartup()
{
    const char* line = GetCommandLineA();
    int length = lstrlenA(line);
    bool links = length >= 5 && lstrcmpA(line + length - 5, "links") == 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    UINT result = links ? MakeLinksAndKeys() : WriteArchive();
    QueryPerformanceCounter(&end);
    // In floating point: built like the setup, this program has no 64-bit
    // division on a 32-bit processor.
    if (result == 0)
        result = (UINT)(int)((double)(end.QuadPart - start.QuadPart) * 1e6 /
                             (double)frequency.QuadPart);
    ExitProcess(result);
}
