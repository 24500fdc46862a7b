// What is this installation's. The log may have been changed by anyone who
// can write to the installation folder, and the names the setup uses (the
// uninstall entry, the shortcuts, the file type) may since have been taken
// over by another installation of the product. So an item the log names is
// this installation's only where this product's setup could have made it,
// and only while it still leads into this installation, or leads nowhere:
//   files      inside the installation folder (the uninstaller's own);
//   shortcuts  .lnk files inside a Programs folder, or right in a Startup
//              or Desktop folder, that lead into the installation folder or
//              to nothing that exists; one that cannot be read only right
//              in a logged program group or a Startup or Desktop folder;
//   groups     a folder inside a Programs folder that holds (or held) one
//              of those shortcuts, never a shell folder itself;
//   entries    a key right below the Uninstall key whose command names this
//              uninstaller, or nothing that exists, or is missing;
//   classes    an extension's key, the class it names, and the class's
//              DefaultIcon and shell\open\command keys, while the open
//              command starts a program of this installation or nothing
//              that exists.
// Paths are compared in one plain spelling on both sides, so that another
// spelling of the same folder (\\?\, a short name, other letter case) is
// still this installation's.
#include "uninst.h"

#include <shlobj.h>

#include "../core/texts.h"
#include "../log/setup_log.h"

static char s_folder[MAX_PATH];
static char s_self[MAX_PATH];
static char s_programName[MAX_PATH];

// NUL-separated paths in their plain spelling, an empty one after the last.
struct PathList {
    char text[16384];
    int used;
};

static void AddPath(PathList& list, const char* path)
{
    int length = lstrlenA(path) + 1;
    if (list.used + length + 1 > (int)sizeof list.text) return;
    lstrcpyA(list.text + list.used, path);
    list.used += length;
    list.text[list.used] = 0;
}

static bool HasPath(const PathList& list, const char* path)
{
    for (const char* p = list.text; *p; p += lstrlenA(p) + 1)
        if (lstrcmpiA(p, path) == 0) return true;
    return false;
}

// The Programs folders (the user's and all users'); the folders a shortcut
// may lie right in (Startup and Desktop, the user's and all users'); the
// program groups the log names; the folders that hold logged shortcuts of
// this installation's, and those that hold ones another installation took
// over.
static PathList s_programs, s_direct, s_groups, s_ownShortcutFolders, s_anothersShortcutFolders;

static bool IsBelowAny(const PathList& folders, const char* path)
{
    for (const char* p = folders.text; *p; p += lstrlenA(p) + 1)
        if (IsBelow(p, path)) return true;
    return false;
}

static void AddShellFolder(PathList& list, int id)
{
    char path[MAX_PATH], plain[MAX_PATH];
    if (SHGetSpecialFolderPathA(NULL, path, id, FALSE) && NormalizePath(path, plain)) AddPath(list, plain);
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

// A folder that holds the log of another installation of this product.
static bool HoldsAnotherInstallation(const char* folder)
{
    char log[MAX_PATH + 16], name[MAX_PATH];
    if (lstrlenA(folder) + 12 >= MAX_PATH) return false;
    wsprintfA(log, "%s\\" LOG_FILE_NAME, folder);
    return lstrcmpiA(log, LogPath()) != 0 && Exists(log) &&
           GetPrivateProfileStringA(LOG_COMMON, LOG_PROGRAM_NAME, "", name, MAX_PATH, log) &&
           lstrcmpiA(name, s_programName) == 0;
}

// Whose an item is that leads to program (a shortcut's target, the program
// a registered command starts).
static Owner OwnerOfTarget(const char* program)
{
    char plain[MAX_PATH], folder[MAX_PATH];
    // A bare name the system looks for on its search path is not ours to
    // judge.
    bool full = (program[0] && program[1] == ':' && (program[2] == '\\' || program[2] == '/')) ||
                StartsWith(program, "\\\\") || StartsWith(program, "//");
    if (!full || !NormalizePath(program, plain)) return FOREIGN;
    if (IsBelow(s_folder, plain, true)) return OWN;
    // Leading nowhere, it helps nobody.
    if (!Exists(plain)) return OWN;
    ParentOf(plain, folder);
    return HoldsAnotherInstallation(folder) ? ANOTHER : FOREIGN;
}

static bool IsShortcut(const char* plain)
{
    int length = lstrlenA(plain);
    return length > 4 && lstrcmpiA(plain + length - 4, ".lnk") == 0;
}

Owner OwnerOfFile(const char* path)
{
    char plain[MAX_PATH], folder[MAX_PATH], target[MAX_PATH];
    if (!NormalizePath(path, plain)) return FOREIGN;
    if (IsBelow(s_folder, plain)) return OWN;
    ParentOf(plain, folder);
    if (!IsShortcut(plain) || !(IsBelowAny(s_programs, plain) || HasPath(s_direct, folder))) return FOREIGN;
    if (ReadShortcutTarget(plain, target)) return OwnerOfTarget(target);
    // Half-written by a crash, say: it shows no other owner where the setup
    // puts its shortcuts.
    return HasPath(s_direct, folder) || HasPath(s_groups, folder) ? OWN : FOREIGN;
}

Owner OwnerOfGroup(const char* path)
{
    char plain[MAX_PATH];
    if (!NormalizePath(path, plain)) return FOREIGN;
    if (IsProtectedFolder(plain)) return SHELL;
    if (!IsBelowAny(s_programs, plain)) return FOREIGN;
    if (HasPath(s_ownShortcutFolders, plain)) return OWN;
    return HasPath(s_anothersShortcutFolders, plain) ? ANOTHER : FOREIGN;
}

// A string value; false when the key or the value is not there, or the
// value is no text. *present tells the value was there at all.
static bool ReadKeyText(HKEY root, const char* path, const char* name, char* value, bool* present)
{
    DWORD type = 0, size = VALUE_SIZE - 1;
    LONG result = RegGetValueA(root, path, name, RRF_RT_ANY, &type, value, &size);
    *present = result != ERROR_FILE_NOT_FOUND && result != ERROR_PATH_NOT_FOUND;
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        value[0] = 0;
        return false;
    }
    value[size < (DWORD)VALUE_SIZE ? size : VALUE_SIZE - 1] = 0;
    return true;
}

bool KeyExists(HKEY root, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Whose the thing is that a command (an uninstall string, an open
// command) starts; a command that is not there leads nowhere.
static Owner OwnerOfCommand(HKEY root, const char* path, const char* name)
{
    char command[VALUE_SIZE], program[MAX_PATH];
    bool present;
    if (!ReadKeyText(root, path, name, command, &present)) return present ? FOREIGN : OWN;
    CommandProgram(command, program);
    if (!program[0]) return OWN;
    return SamePath(program, s_self) ? OWN : OwnerOfTarget(program);
}

// One key's name: no path, and not made of dots only, which some would
// read as the key itself or its parent.
static bool IsKeyName(const char* name)
{
    bool dots = true;
    for (const char* p = name; *p; ++p) {
        if (*p == '\\') return false;
        dots = dots && *p == '.';
    }
    return name[0] && !dots && lstrlenA(name) < MAX_PATH;
}

Owner OwnerOfEntry(const char* parent, const char* name)
{
    char path[2 * VALUE_SIZE + 2];
    if (lstrcmpiA(parent, UNINSTALL_KEY) != 0 || !IsKeyName(name)) return FOREIGN;
    wsprintfA(path, "%s\\%s", parent, name);
    return KeyExists(HKEY_LOCAL_MACHINE, path) ? OwnerOfCommand(HKEY_LOCAL_MACHINE, path, "UninstallString")
                                               : OWN;
}

// The keys the setup makes below a file type's class.
static const char* const CLASS_KEYS[] = {"DefaultIcon", "shell", "shell\\open", "shell\\open\\command"};

static bool IsClassKey(const char* relative)
{
    for (const char* key : CLASS_KEYS)
        if (lstrcmpiA(relative, key) == 0) return true;
    return false;
}

// True when the key below the class (relative "" for the class itself)
// holds no key but the setup's.
static bool HoldsOnlyClassKeys(const char* className, const char* relative, int depth)
{
    char path[MAX_PATH + 64], name[256];
    wsprintfA(path, relative[0] ? "%s\\%s" : "%s", className, relative);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_ENUMERATE_SUB_KEYS, &key) != ERROR_SUCCESS) return true;
    bool only = true;
    for (DWORD i = 0; only; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
        char below[MAX_PATH];
        if (lstrlenA(relative) + lstrlenA(name) + 2 > MAX_PATH) only = false;
        else {
            wsprintfA(below, relative[0] ? "%s\\%s" : "%s%s", relative, name);
            only = depth < 3 && IsClassKey(below) && HoldsOnlyClassKeys(className, below, depth + 1);
        }
    }
    RegCloseKey(key);
    return only;
}

static Owner OwnerOfClass(const char* className)
{
    char command[MAX_PATH + 64];
    if (!IsKeyName(className)) return FOREIGN;
    if (!KeyExists(HKEY_CLASSES_ROOT, className)) return OWN;
    wsprintfA(command, "%s\\shell\\open\\command", className);
    char value[VALUE_SIZE];
    bool present;
    if (ReadKeyText(HKEY_CLASSES_ROOT, command, NULL, value, &present) && value[0])
        return OwnerOfCommand(HKEY_CLASSES_ROOT, command, NULL);
    // No command: a class left half-made by a crash, as long as it holds
    // nothing another program put there.
    return HoldsOnlyClassKeys(className, "", 0) ? OWN : FOREIGN;
}

Owner OwnerOfClassKey(const char* path)
{
    if (!path[0] || lstrlenA(path) >= MAX_PATH) return FOREIGN;
    const char* slash = path;
    while (*slash && *slash != '\\') ++slash;
    if (path[0] == '.') {
        if (*slash || !IsKeyName(path)) return FOREIGN;
        char className[VALUE_SIZE];
        bool present;
        if (!KeyExists(HKEY_CLASSES_ROOT, path)) return OWN;
        if (!ReadKeyText(HKEY_CLASSES_ROOT, path, NULL, className, &present)) return present ? FOREIGN : OWN;
        return className[0] ? OwnerOfClass(className) : OWN;
    }
    if (*slash && !IsClassKey(slash + 1)) return FOREIGN;
    char className[MAX_PATH];
    lstrcpynA(className, path, (int)(slash - path) + 1);
    return OwnerOfClass(className);
}

// The program groups the log names, and whose the shortcuts are that the
// log names in them, before anything is removed.
static void ReadGroups()
{
    char value[VALUE_SIZE], plain[MAX_PATH];
    if (ReadLogValue(LOG_LINKS, LOG_DIR, value) && NormalizePath(value, plain) && IsBelowAny(s_programs, plain))
        AddPath(s_groups, plain);
    for (const char* p = ReadNumberedValues(LOG_EARLIER, LOG_DIR); *p; p += lstrlenA(p) + 1)
        if (NormalizePath(p, plain) && IsBelowAny(s_programs, plain)) AddPath(s_groups, plain);
    static const char* const SHORTCUT_KEYS[][2] = {{LOG_LINKS, LOG_LINK}, {LOG_EARLIER, LOG_FILE}};
    for (const auto& keys : SHORTCUT_KEYS) {
        for (const char* p = ReadNumberedValues(keys[0], keys[1]); *p; p += lstrlenA(p) + 1) {
            char folder[MAX_PATH];
            if (!NormalizePath(p, plain) || !IsShortcut(plain) || IsBelow(s_folder, plain)) continue;
            Owner owner = OwnerOfFile(plain);
            PathList& folders = owner == OWN ? s_ownShortcutFolders : s_anothersShortcutFolders;
            ParentOf(plain, folder);
            if (owner != FOREIGN && !HasPath(folders, folder)) AddPath(folders, folder);
        }
    }
}

void SetInstallation(const char* folder, const char* uninstaller)
{
    if (!NormalizePath(folder, s_folder)) lstrcpynA(s_folder, folder, MAX_PATH);
    if (!NormalizePath(uninstaller, s_self)) lstrcpynA(s_self, uninstaller, MAX_PATH);
    ReadProgramName(s_programName, MAX_PATH);
    static const int PROGRAMS[] = {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS};
    static const int DIRECT[] = {CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_DESKTOPDIRECTORY,
                                 CSIDL_COMMON_DESKTOPDIRECTORY};
    for (int id : PROGRAMS) AddShellFolder(s_programs, id);
    for (int id : DIRECT) AddShellFolder(s_direct, id);
    ReadGroups();
}
