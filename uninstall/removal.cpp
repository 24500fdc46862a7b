// Undoing an installation from its setup.log. The setup writes each entry
// before it makes the item, so the log may name things a crash left unmade:
// anything already gone counts as removed, and anything of this
// installation's that is still there afterwards is reported. What the log
// names that is not this installation's (ownership.cpp) is left as it is;
// the report names what of it exists, so that a changed log shows.
#include "uninst.h"

#include <shlobj.h>

#include "../log/setup_log.h"

static char s_tmpPath[MAX_PATH];
// The uninstaller's own file, the log and its temporary copy, in their
// plain spelling: whatever the log lists, they are removed last (see
// RemoveInstallation).
static char s_removedLast[3][MAX_PATH];

static bool IsRemovedLast(const char* path)
{
    char plain[MAX_PATH];
    if (!NormalizePath(path, plain)) return false;
    for (const char* last : s_removedLast)
        if (lstrcmpiA(plain, last) == 0) return true;
    return false;
}

// What DeleteFile says of a file that another program holds open.
static bool IsHeldOpen(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// A file the user did not close now: the system deletes it at the next
// restart. Where it refuses to note that, nothing may be stranded: the
// uninstaller, its log and the entry stay, so that running it again after
// the program has been closed finishes the job.
static void LeaveForRestart(const char* path, const char* plain)
{
    if (MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        AddRestartItem(plain);
    } else {
        AddLeftover(path);
        KeepForNextRun();
    }
}

static void RemoveFile(const char* path, bool askWhenHeld)
{
    if (!path[0]) return;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // A folder under a file's name was there before the setup, which could
    // not write the file in its place; it is not ours to remove.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return;
    // A path the log names twice (settings.ini) is asked about once.
    char plain[MAX_PATH];
    NormalizePath(path, plain);
    if (IsRestartItem(plain)) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    for (;;) {
        if (DeleteFileA(path)) return;
        DWORD error = GetLastError();
        if (!Exists(path)) return;
        if (!askWhenHeld || !IsHeldOpen(error)) break;
        if (!AskToCloseProgram(path)) {
            LeaveForRestart(path, plain);
            return;
        }
    }
    AddLeftover(path);
}

// True when all that is left in the folder goes at the next restart.
static bool HoldsOnlyRestartItems(const char* folder)
{
    char plain[MAX_PATH], pattern[MAX_PATH + 2];
    if (!NormalizePath(folder, plain)) return false;
    wsprintfA(pattern, "%s\\*", plain);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool onlyThose = true;
    do {
        if (lstrcmpA(found.cFileName, ".") == 0 || lstrcmpA(found.cFileName, "..") == 0) continue;
        char path[2 * MAX_PATH];
        wsprintfA(path, "%s\\%s", plain, found.cFileName);
        onlyThose = IsRestartItem(path);
    } while (onlyThose && FindNextFileA(search, &found));
    FindClose(search);
    return onlyThose;
}

static void RemoveFolder(const char* path)
{
    if (!path[0] || IsProtectedFolder(path)) return;
    if (RemoveDirectoryA(path) || !Exists(path)) return;
    // Pending deletions run in the order they were noted: the folder is
    // noted after the files in it, so it is empty by its turn.
    char plain[MAX_PATH];
    NormalizePath(path, plain);
    if (HoldsOnlyRestartItems(path) && MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
        AddRestartItem(plain);
    else if (!HoldsAnothers(plain))
        AddLeftover(path, " (папка не пуста)");
}

// A file, shortcut or folder the log names that is not this
// installation's: reported while it is there, so that a changed log shows;
// another installation's stays unreported.
static void LeaveAlone(Owner owner, const char* path)
{
    if (owner == ANOTHER) AddAnothers(path);
    else if (owner == FOREIGN && Exists(path)) AddForeign(path);
}

static void RemoveNumberedFiles(const char* section, const char* prefix)
{
    for (const char* path = ReadNumberedValues(section, prefix); *path; path += lstrlenA(path) + 1) {
        if (IsRemovedLast(path)) continue;
        Owner owner = OwnerOfFile(path);
        if (owner == OWN) RemoveFile(path, true);
        else LeaveAlone(owner, path);
    }
}

static void RemoveGroup(const char* path)
{
    Owner owner = OwnerOfGroup(path);
    if (owner == OWN) RemoveFolder(path);
    else LeaveAlone(owner, path);
}

static bool IsGone(LONG result)
{
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND;
}

// The uninstall entry of that name below parent; valueSection names the
// values to take out of it when the key cannot go whole.
static void RemoveEntry(const char* parent, const char* name, const char* valueSection)
{
    char path[2 * VALUE_SIZE + 2], item[2 * VALUE_SIZE + 24], value[VALUE_SIZE];
    if (lstrlenA(parent) + lstrlenA(name) + 2 > (int)sizeof path) return;
    wsprintfA(path, "%s\\%s", parent, name);
    wsprintfA(item, "HKEY_LOCAL_MACHINE\\%s", path);
    Owner owner = OwnerOfEntry(parent, name);
    if (owner != OWN) {
        if (owner == FOREIGN && name[0] && KeyExists(HKEY_LOCAL_MACHINE, path)) AddForeign(item);
        return;
    }
    // The key goes whole, at once: a run ended half-way must never leave an
    // entry without its command. A key that holds keys of another program's
    // stays with them and loses only the values the setup wrote.
    if (IsGone(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path))) return;
    HKEY key;
    if (valueSection && RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        int count = ReadLogCount(valueSection);
        for (int i = 1; i <= count; ++i) {
            if (ReadLogNumbered(valueSection, LOG_KEY, i, value) && value[0]) RegDeleteValueA(key, value);
        }
        RegCloseKey(key);
    }
    AddLeftover(item);
}

// The entry, then those an earlier run into this folder made under other
// names, below the same parent.
static void RemoveUninstallEntries()
{
    char parent[VALUE_SIZE], name[VALUE_SIZE];
    ReadLogValue(LOG_REG_UNINST, LOG_DIR, parent);
    if (ReadLogValue(LOG_REG_UNINST, LOG_SUB_KEY, name)) RemoveEntry(parent, name, LOG_REG_UNINST);
    for (const char* earlier = ReadNumberedValues(LOG_EARLIER, LOG_KEY); *earlier; earlier += lstrlenA(earlier) + 1)
        RemoveEntry(parent, earlier, NULL);
}

// The file type's keys, by number: every key comes before its parent. Whose
// each is, is settled before any goes, since the extension names the class.
static void RemoveClassKeys()
{
    static Owner owners[MAX_LOG_ENTRIES + 1];
    char parent[VALUE_SIZE], name[VALUE_SIZE], path[2 * VALUE_SIZE + 2], item[2 * VALUE_SIZE + 24];
    int count = ReadLogCount(LOG_REG_CLASS);
    for (int pass = 0; pass < 2; ++pass) {
        bool removedAny = false;
        for (int i = 1; i <= count; ++i) {
            // An empty name would make the key its own parent.
            if (!ReadLogNumbered(LOG_REG_CLASS, LOG_SUB, i, name) || !name[0]) continue;
            ReadLogNumbered(LOG_REG_CLASS, LOG_DIR, i, parent);
            if (parent[0]) wsprintfA(path, "%s\\%s", parent, name);
            else lstrcpyA(path, name);
            wsprintfA(item, "HKEY_CLASSES_ROOT\\%s", path);
            if (pass == 0) {
                owners[i] = OwnerOfClassKey(path);
            } else if (owners[i] != OWN) {
                if (owners[i] == FOREIGN && KeyExists(HKEY_CLASSES_ROOT, path)) AddForeign(item);
            } else if (IsGone(RegDeleteKeyA(HKEY_CLASSES_ROOT, path))) {
                removedAny = true;
            } else {
                // A key with keys of its own (say a command another program
                // added to the file type) is left whole.
                AddLeftover(item);
            }
        }
        if (removedAny) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);
    }
}

bool RemoveInstallation(const char* folder, const char* exePath)
{
    if (lstrlenA(folder) + 11 > MAX_PATH - 1 || !NameLog(folder)) return false;
    wsprintfA(s_tmpPath, "%s\\" LOG_TEMP_NAME, folder);
    NormalizePath(exePath, s_removedLast[0]);
    NormalizePath(LogPath(), s_removedLast[1]);
    NormalizePath(s_tmpPath, s_removedLast[2]);
    if (!Exists(LogPath())) return false;
    // The shortcuts are read through the shell's link object.
    CoInitialize(NULL);
    SetInstallation(folder, exePath);

    // The uninstall entry starts this uninstaller and the uninstaller reads
    // the log: as long as anything the log describes is left for no one
    // else to remove, all three must be there, so that a run ended at any
    // moment, or one that had to leave a file in use, is finished by
    // starting the uninstaller again from the entry. Hence everything the
    // log describes first, then the entry, the log, the uninstaller, and
    // last the folder that held them.
    RemoveNumberedFiles(LOG_FILES, LOG_FILE);
    RemoveNumberedFiles(LOG_LINKS, LOG_LINK);
    RemoveNumberedFiles(LOG_EARLIER, LOG_FILE);
    char group[VALUE_SIZE];
    if (ReadLogValue(LOG_LINKS, LOG_DIR, group)) RemoveGroup(group);
    for (const char* path = ReadNumberedValues(LOG_EARLIER, LOG_DIR); *path; path += lstrlenA(path) + 1)
        RemoveGroup(path);
    RemoveClassKeys();
    // A file in use that the restart will not take: the next run needs all
    // three.
    if (IsKeptForNextRun()) return true;

    RemoveUninstallEntries();
    // The setup writes the log's new text to setup.tmp and renames it over
    // setup.log, so a crash may leave setup.tmp behind. It goes before the
    // log: without the log no later run could find it.
    RemoveFile(s_tmpPath, false);
    RemoveFile(LogPath(), false);
    RemoveFile(exePath, false);
    RemoveFolder(folder);
    return true;
}
