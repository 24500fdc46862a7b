// What the file system holds at a path, and what it is to do with it at the
// next restart.
#include "setup.h"

int PathExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

bool IsFolder(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const char* path)
{
    return PathExists(path) && !IsFolder(path);
}

// An uninstaller that met a file in use leaves it, and then its folder, to
// be deleted at the next restart. An installation made there before that
// restart would lose them: the setup takes back each such deletion of a
// path before it writes there. The list holds other programs' renames too;
// it is read and written as UTF-16, as the system keeps it, so that those
// stay exactly as they were.
void KeepFromRestartDeletion(const char* path)
{
    WCHAR name[PATH_SIZE + 4] = L"\\??\\";
    HKEY key;
    DWORD type, size = 0;
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, name + 4, PATH_SIZE) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key))
        return;
    static const WCHAR VALUE[] = L"PendingFileRenameOperations";
    WCHAR* list = 0;
    if (!RegQueryValueExW(key, VALUE, 0, &type, 0, &size) && type == REG_MULTI_SZ &&
        (list = (WCHAR*)VirtualAlloc(0, size + 8, MEM_COMMIT, PAGE_READWRITE)) &&
        !RegQueryValueExW(key, VALUE, 0, 0, (BYTE*)list, &size)) {
        // Pairs of strings, a source and a target; an empty target deletes
        // the source. The pairs kept are moved down over those dropped.
        // (The buffer's zeroed tail ends a list cut short.)
        WCHAR* end = list + size / sizeof(WCHAR);
        WCHAR* kept = list;
        bool dropped = false;
        for (WCHAR* pair = list; pair < end && *pair;) {
            WCHAR* target = pair + lstrlenW(pair) + 1;
            WCHAR* next = target + lstrlenW(target) + 1;
            if (*target || lstrcmpiW(pair, name))
                for (WCHAR* from = pair; from < next;)
                    *kept++ = *from++;
            else
                dropped = true;
            pair = next;
        }
        *kept++ = 0;
        if (dropped)
            RegSetValueExW(key, VALUE, 0, REG_MULTI_SZ, (BYTE*)list,
                           (DWORD)((kept - list) * sizeof(WCHAR)));
        VirtualFree(list, 0, MEM_RELEASE);
    }
    RegCloseKey(key);
}
