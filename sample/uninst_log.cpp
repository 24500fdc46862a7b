// Undoing an installation from its setup.log (log/setup_log.h describes it).
// The setup writes each entry before it makes the item, so the log may name
// things a crash left unmade: anything already gone counts as removed, and
// anything that is still there afterwards is reported.
//
// The product may since have been installed again elsewhere, under the same
// names: the uninstall entry, the shortcuts and the file type are then that
// installation's. Each is removed only while it is still this one's (the
// entry names this uninstaller, a shortcut leads into this folder, the file
// type opens this folder's program); otherwise it stays, unreported.
#include "uninst.h"

#include <shlobj.h>

#include "../log/setup_log.h"

// Values are read into a buffer larger than a path so that a longer value
// is seen as too long instead of being cut into some other, shorter path.
static const int VALUE_SIZE = 1024;
static const int LIST_SIZE = 8192;

static const char RESTART_NOTE[] = " (удаление при перезагрузке)";

// One line per item, CR LF after each; a list that outgrows its buffer ends
// in "...".
struct ItemList {
    char text[LIST_SIZE];
    int length;
    bool cut;
};

static char s_logPath[MAX_PATH];
static char s_tmpPath[MAX_PATH];
static char s_selfPath[MAX_PATH];
static char s_folder[MAX_PATH];
static ItemList s_leftovers;
static ItemList s_atRestart;
// What the log names that another installation of the product now owns.
static ItemList s_others;
static bool s_keptForNextRun;

// True when the list already holds the line item + note: a path logged twice
// is named once.
static bool IsListed(const ItemList& list, const char* item, const char* note)
{
    char line[VALUE_SIZE * 2 + 64];
    if (lstrlenA(item) + lstrlenA(note) >= (int)sizeof line) return false;
    lstrcpyA(line, item);
    lstrcatA(line, note);
    int length = lstrlenA(line);
    for (const char* p = list.text; *p;) {
        const char* end = p;
        while (*end && *end != '\r') ++end;
        if (end - p == length &&
            CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, p, length, line, length) == CSTR_EQUAL)
            return true;
        p = *end ? end + 2 : end;
    }
    return false;
}

static void AddItem(ItemList& list, const char* item, const char* note)
{
    if (IsListed(list, item, note)) return;
    int length = lstrlenA(item) + lstrlenA(note) + 2;
    if (list.cut || list.length + length + 8 >= LIST_SIZE) {
        if (!list.cut) lstrcatA(list.text, "...\r\n");
        list.cut = true;
        return;
    }
    lstrcatA(list.text, item);
    lstrcatA(list.text, note);
    lstrcatA(list.text, "\r\n");
    list.length += length;
}

void AddLeftover(const char* item, const char* note) { AddItem(s_leftovers, item, note); }
bool HasLeftovers() { return s_leftovers.text[0] != 0; }
const char* LeftoverText() { return s_leftovers.text; }
bool HasRestartItems() { return s_atRestart.text[0] != 0; }
const char* RestartText() { return s_atRestart.text; }
const char* RestartNote() { return RESTART_NOTE; }
bool KeptForNextRun() { return s_keptForNextRun; }

static int ReadValue(const char* section, const char* key, char* value)
{
    return (int)GetPrivateProfileStringA(section, key, "", value, VALUE_SIZE, s_logPath);
}

static int ReadNumbered(const char* section, const char* prefix, int number, char* value)
{
    char key[32];
    wsprintfA(key, "%s%i", prefix, number);
    return ReadValue(section, key, value);
}

static int ReadCount(const char* section)
{
    int count = (int)GetPrivateProfileIntA(section, "n", 0, s_logPath);
    // The setup writes a handful of entries; a damaged count must not make
    // us spin through millions of missing keys.
    if (count < 0) return 0;
    return count > 10000 ? 10000 : count;
}

static void StripTrailingSlashes(char* path)
{
    int length = lstrlenA(path);
    while (length > 0 && (path[length - 1] == '\\' || path[length - 1] == '/')) {
        // Keep the backslash of a drive root: "C:\" is not "C:".
        if (length == 3 && path[1] == ':') break;
        path[--length] = 0;
    }
}

// True when a is b or one of b's parent folders.
static bool IsSameOrParent(const char* a, const char* b)
{
    int lengthA = lstrlenA(a);
    int lengthB = lstrlenA(b);
    if (lengthA == 0 || lengthA > lengthB) return false;
    if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, lengthA, b, lengthA) != CSTR_EQUAL)
        return false;
    return lengthA == lengthB || b[lengthA] == '\\' || a[lengthA - 1] == '\\';
}

// Folders the uninstaller never removes even when they are empty: the shell's
// own folders and their parents, and drive roots. An empty program group
// name makes the logged group folder the Programs folder itself, and a user
// may install straight into the desktop or Program Files.
static bool IsProtectedFolder(const char* path)
{
    static const int SHELL_FOLDERS[] = {
        CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU,
        CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_DESKTOPDIRECTORY,
        CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_PROGRAM_FILES,
        CSIDL_PROGRAM_FILES_COMMON, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_PROFILE,
        CSIDL_WINDOWS, CSIDL_SYSTEM,
    };
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, NULL);
    if (length == 0 || length >= MAX_PATH) return true;
    StripTrailingSlashes(full);
    if (lstrlenA(full) <= 3) return true;
    for (unsigned i = 0; i < sizeof SHELL_FOLDERS / sizeof SHELL_FOLDERS[0]; ++i) {
        char special[MAX_PATH];
        if (!SHGetSpecialFolderPathA(NULL, special, SHELL_FOLDERS[i], FALSE)) continue;
        StripTrailingSlashes(special);
        if (IsSameOrParent(full, special)) return true;
    }
    return false;
}

// The path as the file system names it (full, long names), so that two
// spellings of one file compare equal; the path as given when that fails.
static void NormalizePath(const char* path, char* out)
{
    DWORD length = GetFullPathNameA(path, MAX_PATH, out, NULL);
    if (length == 0 || length >= MAX_PATH) {
        lstrcpynA(out, path, MAX_PATH);
        return;
    }
    char longPath[MAX_PATH];
    length = GetLongPathNameA(out, longPath, MAX_PATH);
    if (length > 0 && length < MAX_PATH) lstrcpyA(out, longPath);
}

static bool SamePath(const char* a, const char* b)
{
    if (!a[0] || !b[0] || lstrlenA(a) >= MAX_PATH || lstrlenA(b) >= MAX_PATH) return false;
    char fullA[MAX_PATH], fullB[MAX_PATH];
    NormalizePath(a, fullA);
    NormalizePath(b, fullB);
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, fullA, -1, fullB, -1) == CSTR_EQUAL;
}

// True when path lies in this installation's folder or below it.
static bool IsInFolder(const char* path)
{
    if (!path[0] || lstrlenA(path) >= MAX_PATH) return false;
    char full[MAX_PATH];
    NormalizePath(path, full);
    return IsSameOrParent(s_folder, full);
}

// The shell's link object, written out here rather than taken from the
// import library of GUIDs, which would bring much more along.
static const GUID SHELL_LINK = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID SHELL_LINK_A = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID PERSIST_FILE = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Where a shortcut leads; false when it cannot be read.
static bool ReadShortcutTarget(const char* path, char* target)
{
    IShellLinkA* link = NULL;
    IPersistFile* file = NULL;
    WCHAR wide[MAX_PATH];
    target[0] = 0;
    bool read = MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) > 0 &&
                SUCCEEDED(CoCreateInstance(SHELL_LINK, NULL, CLSCTX_INPROC_SERVER, SHELL_LINK_A,
                                           (void**)&link)) &&
                SUCCEEDED(link->QueryInterface(PERSIST_FILE, (void**)&file)) &&
                SUCCEEDED(file->Load(wide, STGM_READ)) &&
                SUCCEEDED(link->GetPath(target, MAX_PATH, NULL, SLGP_RAWPATH)) && target[0];
    if (file) file->Release();
    if (link) link->Release();
    return read;
}

// A shortcut that leads out of this installation's folder was made since by
// another installation under the same name. One that cannot be read shows
// no other owner, and is this one's.
static bool IsOthersShortcut(const char* path)
{
    int length = lstrlenA(path);
    char target[MAX_PATH];
    return length > 4 && lstrcmpiA(path + length - 4, ".lnk") == 0 && ReadShortcutTarget(path, target) &&
           !IsInFolder(target);
}

// The program a command starts: the quoted part, or the text before its
// arguments.
static void CommandProgram(const char* command, char* program)
{
    lstrcpynA(program, command + (command[0] == '"'), MAX_PATH);
    for (char* p = program; *p; ++p) {
        if (*p == '"' || (command[0] != '"' && p[0] == ' ' && (p[1] == '%' || p[1] == '"'))) {
            *p = 0;
            break;
        }
    }
}

// A string value of a key; empty when there is none.
static void ReadKeyText(HKEY root, const char* path, const char* name, char* value)
{
    DWORD size = VALUE_SIZE;
    if (RegGetValueA(root, path, name, RRF_RT_REG_SZ, NULL, value, &size) != ERROR_SUCCESS) value[0] = 0;
}

// The uninstaller's own file and its log: whatever the log lists, they are
// removed last (see RemoveInstallation).
static bool IsRemovedLast(const char* path)
{
    return SamePath(path, s_selfPath) || SamePath(path, s_logPath) || SamePath(path, s_tmpPath);
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
static void LeaveForRestart(const char* path, const char* fullPath)
{
    if (MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        AddItem(s_atRestart, fullPath, "");
    } else {
        AddLeftover(path);
        s_keptForNextRun = true;
    }
}

static void RemoveFile(const char* path, bool askWhenHeld)
{
    if (!path[0]) return;
    if (lstrlenA(path) >= MAX_PATH) {
        AddLeftover(path, " (слишком длинный путь)");
        return;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // A folder under a file's name was there before the setup, which could
    // not write the file in its place; it is not ours to remove.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return;
    // A path the log names twice (settings.ini) is asked about once.
    char full[MAX_PATH];
    NormalizePath(path, full);
    if (IsListed(s_leftovers, path, "") || IsListed(s_atRestart, full, "")) return;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    for (;;) {
        if (DeleteFileA(path)) return;
        DWORD error = GetLastError();
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
        if (!askWhenHeld || !IsHeldOpen(error)) break;
        if (!AskToCloseProgram(path)) {
            LeaveForRestart(path, full);
            return;
        }
    }
    AddLeftover(path);
}

// True when all that is left in the folder goes at the next restart.
static bool HoldsOnlyRestartItems(const char* folder)
{
    char full[MAX_PATH], pattern[MAX_PATH + 2];
    NormalizePath(folder, full);
    StripTrailingSlashes(full);
    wsprintfA(pattern, "%s\\*", full);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool onlyThose = true;
    do {
        if (lstrcmpA(found.cFileName, ".") == 0 || lstrcmpA(found.cFileName, "..") == 0) continue;
        char path[2 * MAX_PATH];
        wsprintfA(path, "%s\\%s", full, found.cFileName);
        onlyThose = IsListed(s_atRestart, path, "");
    } while (onlyThose && FindNextFileA(search, &found));
    FindClose(search);
    return onlyThose;
}

// True when the folder holds something of another installation's.
static bool HoldsOthers(const char* folder)
{
    for (const char* p = s_others.text; *p;) {
        char item[VALUE_SIZE];
        const char* end = p;
        while (*end && *end != '\r') ++end;
        lstrcpynA(item, p, (int)(end - p) + 1 < VALUE_SIZE ? (int)(end - p) + 1 : VALUE_SIZE);
        if (IsSameOrParent(folder, item)) return true;
        p = *end ? end + 2 : end;
    }
    return false;
}

static void RemoveFolder(const char* path)
{
    if (!path[0] || IsProtectedFolder(path)) return;
    if (RemoveDirectoryA(path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
    // Pending deletions run in the order they were noted: the folder is
    // noted after the files in it, so it is empty by its turn.
    if (HoldsOnlyRestartItems(path) && MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        char full[MAX_PATH];
        NormalizePath(path, full);
        AddItem(s_atRestart, full, "");
    } else if (!HoldsOthers(path)) {
        AddLeftover(path, " (папка не пуста)");
    }
}

// The values of every key of section named prefix and a number, in the
// log's order, each ended by a NUL, and an empty one after the last. Every
// such key counts, also one past the section's n: a later setup into the
// same folder lowers n and leaves what it no longer writes in place.
static const char* NumberedValues(const char* section, const char* prefix)
{
    static char text[1 << 21];
    static char values[1 << 21];
    char* out = values;
    int prefixLength = lstrlenA(prefix);
    GetPrivateProfileSectionA(section, text, sizeof text, s_logPath);
    for (char* entry = text; *entry; entry += lstrlenA(entry) + 1) {
        char* value = entry + prefixLength;
        if (CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, entry, prefixLength, prefix, prefixLength) !=
                CSTR_EQUAL ||
            *value < '0' || *value > '9')
            continue;
        while (*value >= '0' && *value <= '9') ++value;
        if (*value != '=') continue;
        lstrcpyA(out, value + 1);
        out += lstrlenA(out) + 1;
    }
    *out = 0;
    return values;
}

static void RemoveNumberedFiles(const char* section, const char* prefix)
{
    for (const char* path = NumberedValues(section, prefix); *path; path += lstrlenA(path) + 1) {
        if (IsRemovedLast(path)) continue;
        if (IsOthersShortcut(path)) AddItem(s_others, path, "");
        else RemoveFile(path, true);
    }
}

// The folders a section names by number (the earlier program groups).
static void RemoveNumberedFolders(const char* section, const char* prefix)
{
    for (const char* path = NumberedValues(section, prefix); *path; path += lstrlenA(path) + 1) {
        if (lstrlenA(path) < MAX_PATH) RemoveFolder(path);
    }
}

static bool IsGone(LONG result)
{
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND;
}

// An uninstall entry, the key HKEY_LOCAL_MACHINE\path, while its command
// names this uninstaller (one without a command is this one's too);
// valueSection names the values to take out of it when the key cannot go
// whole.
static void RemoveUninstallKey(const char* path, const char* valueSection)
{
    char command[VALUE_SIZE], program[MAX_PATH], name[VALUE_SIZE];
    ReadKeyText(HKEY_LOCAL_MACHINE, path, "UninstallString", command);
    CommandProgram(command, program);
    if (program[0] && !SamePath(program, s_selfPath)) return;

    // The key goes whole, at once: a run ended half-way must never leave an
    // entry without its command. A key that holds keys of another program's
    // stays with them and loses only the values the setup wrote.
    if (IsGone(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path))) return;
    HKEY key;
    if (valueSection && RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        int count = ReadCount(valueSection);
        for (int i = 1; i <= count; ++i) {
            if (ReadNumbered(valueSection, LOG_KEY, i, name) && name[0]) RegDeleteValueA(key, name);
        }
        RegCloseKey(key);
    }
    AddLeftover("HKEY_LOCAL_MACHINE\\", path);
}

// The uninstall entry of that name below parent; none without a name, which
// would make it the parent, the list of every program installed.
static void RemoveNamedEntry(const char* parent, const char* name, const char* valueSection)
{
    char path[2 * VALUE_SIZE + 2];
    if (!name[0] || lstrlenA(parent) + lstrlenA(name) + 2 > (int)sizeof path) return;
    if (parent[0]) wsprintfA(path, "%s\\%s", parent, name);
    else lstrcpyA(path, name);
    RemoveUninstallKey(path, valueSection);
}

// The entry, then those an earlier run into this folder made under other
// names, below the same parent.
static void RemoveUninstallEntry()
{
    char parent[VALUE_SIZE], name[VALUE_SIZE];
    ReadValue(LOG_REG_UNINST, LOG_DIR, parent);
    ReadValue(LOG_REG_UNINST, LOG_SUB_KEY, name);
    RemoveNamedEntry(parent, name, LOG_REG_UNINST);
    for (const char* earlier = NumberedValues(LOG_EARLIER, LOG_KEY); *earlier; earlier += lstrlenA(earlier) + 1)
        RemoveNamedEntry(parent, earlier, NULL);
}

// True when the file type's open command starts a program outside this
// installation's folder: another installation registered it since.
static bool IsOthersFileType()
{
    char parent[VALUE_SIZE], name[VALUE_SIZE], path[2 * VALUE_SIZE + 2], command[VALUE_SIZE];
    char program[MAX_PATH];
    int count = ReadCount(LOG_REG_CLASS);
    for (int i = 1; i <= count; ++i) {
        if (!ReadNumbered(LOG_REG_CLASS, LOG_SUB, i, name) || lstrcmpiA(name, "command") != 0) continue;
        ReadNumbered(LOG_REG_CLASS, LOG_DIR, i, parent);
        wsprintfA(path, "%s\\%s", parent, name);
        ReadKeyText(HKEY_CLASSES_ROOT, path, NULL, command);
        CommandProgram(command, program);
        return program[0] && !IsInFolder(program);
    }
    return false;
}

static void RemoveClassKeys()
{
    char parent[VALUE_SIZE], name[VALUE_SIZE], path[2 * VALUE_SIZE + 2];
    if (IsOthersFileType()) return;
    int count = ReadCount(LOG_REG_CLASS);
    bool removedAny = false;
    for (int i = 1; i <= count; ++i) {
        // An empty name would make the key its own parent.
        if (!ReadNumbered(LOG_REG_CLASS, LOG_SUB, i, name) || !name[0]) continue;
        ReadNumbered(LOG_REG_CLASS, LOG_DIR, i, parent);
        if (parent[0]) wsprintfA(path, "%s\\%s", parent, name);
        else lstrcpyA(path, name);
        // A key with sub-keys of its own (say a command another program
        // added to the file type) is left whole.
        if (IsGone(RegDeleteKeyA(HKEY_CLASSES_ROOT, path))) removedAny = true;
        else AddLeftover("HKEY_CLASSES_ROOT\\", path);
    }
    if (removedAny) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);
}

void ReadProgramName(const char* folder, char* name, int nameSize)
{
    char value[VALUE_SIZE];
    wsprintfA(s_logPath, "%s\\" LOG_FILE_NAME, folder);
    if (!ReadValue(LOG_COMMON, LOG_PROGRAM_NAME, value) || !value[0]) lstrcpyA(value, "Murmelist");
    lstrcpynA(name, value, nameSize);
}

bool RemoveInstallation(const char* folder, const char* exePath)
{
    if (lstrlenA(folder) + 11 > MAX_PATH - 1) return false;
    wsprintfA(s_logPath, "%s\\" LOG_FILE_NAME, folder);
    wsprintfA(s_tmpPath, "%s\\" LOG_TEMP_NAME, folder);
    lstrcpynA(s_selfPath, exePath, MAX_PATH);
    NormalizePath(folder, s_folder);
    StripTrailingSlashes(s_folder);
    if (GetFileAttributesA(s_logPath) == INVALID_FILE_ATTRIBUTES) return false;
    // The shortcuts are read through the shell's link object.
    CoInitialize(NULL);

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
    char groupFolder[VALUE_SIZE];
    if (ReadValue(LOG_LINKS, LOG_DIR, groupFolder) && lstrlenA(groupFolder) < MAX_PATH)
        RemoveFolder(groupFolder);
    RemoveNumberedFolders(LOG_EARLIER, LOG_DIR);
    RemoveClassKeys();
    // A file in use that the restart will not take: the next run needs all
    // three.
    if (s_keptForNextRun) return true;

    RemoveUninstallEntry();
    // The setup writes the log's new text to setup.tmp and renames it over
    // setup.log, so a crash may leave setup.tmp behind. It goes before the
    // log: without the log no later run could find it.
    RemoveFile(s_tmpPath, false);
    RemoveFile(s_logPath, false);
    RemoveFile(exePath, false);
    RemoveFolder(folder);
    return true;
}
