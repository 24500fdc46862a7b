// What the file system holds at a path, and what it is to do with it at the
// next restart.
#include "setup.h"

int PathExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

bool IsFolder(const char* path)
{
    // No attribute takes the top bit, which nothing at the path sets.
    return (GetFileAttributesA(path) & (0x80000000u | FILE_ATTRIBUTE_DIRECTORY)) ==
           FILE_ATTRIBUTE_DIRECTORY;
}

bool IsFile(const char* path)
{
    // Nothing at the path reads as a folder: INVALID_FILE_ATTRIBUTES has
    // the directory bit set too.
    static_assert(INVALID_FILE_ATTRIBUTES & FILE_ATTRIBUTE_DIRECTORY, "no attributes, no file");
    return !(GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY);
}

// Out of line: the log's copy and every payload file open through one
// call of CreateFileA.
__attribute__((noinline)) HANDLE OpenForWriting(const char* path, DWORD disposition)
{
    return CreateFileA(path, GENERIC_WRITE, 0, 0, disposition, FILE_ATTRIBUTE_NORMAL, 0);
}

// An uninstaller that met a file in use leaves it, and then its folder, to
// be deleted at the next restart. An installation made there before that
// restart would lose them: the setup takes back each such deletion of a
// path before it writes there. The list holds other programs' renames too;
// it is read and written as UTF-16, as the system keeps it, so that those
// stay exactly as they were.
void KeepFromRestartDeletion(const char* path)
{
    static const WCHAR PENDING[] = L"PendingFileRenameOperations";
    WCHAR name[PATH_SIZE + 4];
    HKEY key;
    DWORD type, size = SCRATCH_SIZE - 8;
    memcpy(name, L"\\??\\", 8);
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, name + 4, PATH_SIZE) ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key))
        return;
    // Pairs of strings, a source and a target; an empty target deletes the
    // source. The pairs kept move down over those dropped. The buffer's
    // zeroed tail ends a list that was cut short.
    WCHAR* list = (WCHAR*)g_scratch;
    HOLD_ADDRESS(list);
    if (!RegQueryValueExW(key, PENDING, 0, &type, (BYTE*)list, &size) && type == REG_MULTI_SZ) {
        memset((BYTE*)list + size, 0, 8);
        WCHAR *from = list, *kept = list, *pair = list;
        for (bool target = false; *from || target; target = !target) {
            WCHAR* start = kept;
            while ((*kept++ = *from++))
                ;
            if (!target)
                pair = start;
            else if (!*start && !lstrcmpiW(pair, name))
                kept = pair;
        }
        // Something was dropped when the kept pairs end short of the list.
        if (kept != from) {
            *kept++ = 0;
            RegSetValueExW(key, PENDING, 0, REG_MULTI_SZ, (BYTE*)list,
                           (DWORD)((BYTE*)kept - (BYTE*)list));
        }
    }
    RegCloseKey(key);
}
