// One plain spelling of a path, so that the uninstaller compares paths in
// the same form on both sides: an installation made by an earlier setup,
// whatever the spelling in its log or its uninstall entry (a \\?\ prefix,
// a short name of a parent, forward slashes, other letter case, a trailing
// backslash), is still recognised as its own.
#include "uninst.h"

#include <shlobj.h>

bool StartsWith(const char* text, const char* prefix)
{
    int length = lstrlenA(prefix);
    return lstrlenA(text) >= length &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, text, length, prefix, length) == CSTR_EQUAL;
}

static void StripTrailingSlashes(char* path)
{
    int length = lstrlenA(path);
    // A drive's root keeps its backslash: "C:" alone is relative.
    while (length > 3 && path[length - 1] == '\\') path[--length] = 0;
}

bool NormalizePath(const char* path, char* out)
{
    out[0] = 0;
    if (!path[0] || lstrlenA(path) >= MAX_PATH) return false;
    char plain[MAX_PATH], full[MAX_PATH];
    // \\?\ turns off the system's own clean-up of a path: C:\ and
    // \\server\share behind it are ordinary paths.
    if (StartsWith(path, "\\\\?\\UNC\\")) wsprintfA(plain, "\\\\%s", path + 8);
    else if (StartsWith(path, "\\\\?\\")) lstrcpyA(plain, path + 4);
    else lstrcpyA(plain, path);
    DWORD length = GetFullPathNameA(plain, MAX_PATH, full, NULL);
    if (length == 0 || length >= MAX_PATH) return false;
    StripTrailingSlashes(full);
    // The long names of the parts that exist, the rest as it stands. Only a
    // short name needs them: letter case is never told apart here.
    lstrcpyA(out, full);
    bool shortName = false;
    for (const char* p = full; *p; ++p) shortName = shortName || *p == '~';
    for (int cut = lstrlenA(full); shortName;) {
        char head[MAX_PATH], longHead[MAX_PATH];
        lstrcpynA(head, full, cut + 1);
        length = GetLongPathNameA(head, longHead, MAX_PATH);
        if (length > 0 && length + lstrlenA(full + cut) < MAX_PATH) {
            wsprintfA(out, "%s%s", longHead, full + cut);
            break;
        }
        // Not above a drive's root or a share's name.
        while (--cut > 2 && full[cut] != '\\') {
        }
        if (cut <= 2) break;
    }
    StripTrailingSlashes(out);
    return true;
}

bool SamePath(const char* a, const char* b)
{
    char plainA[MAX_PATH], plainB[MAX_PATH];
    return NormalizePath(a, plainA) && NormalizePath(b, plainB) && lstrcmpiA(plainA, plainB) == 0;
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// True when path (plain) lies below folder (plain), or is folder itself
// with orSame.
bool IsBelow(const char* folder, const char* path, bool orSame)
{
    int length = lstrlenA(folder);
    if (length == 0 || lstrlenA(path) < length || !StartsWith(path, folder)) return false;
    return path[length] == '\\' || (length > 0 && folder[length - 1] == '\\' && path[length]) ||
           (orSame && !path[length]);
}

// The folder part of a plain path.
void ParentOf(const char* path, char* parent)
{
    lstrcpyA(parent, path);
    char* cut = parent;
    for (char* p = parent; *p; ++p)
        if (*p == '\\') cut = p;
    *cut = 0;
    StripTrailingSlashes(parent);
}

static bool IsFile(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CommandProgram(const char* command, char* program)
{
    bool quoted = command[0] == '"';
    lstrcpynA(program, command + quoted, MAX_PATH);
    if (quoted) {
        for (char* p = program; *p; ++p)
            if (*p == '"') *p = 0;
        return;
    }
    // Unquoted, the system tries the text up to each space in turn, as
    // C:\Program Files\X\remove.exe -all is meant.
    for (char* p = program; *p; ++p) {
        if (*p != ' ') continue;
        *p = 0;
        if (IsFile(program)) return;
        *p = ' ';
    }
    // None is there: the text before what looks like its arguments.
    for (char* p = program; *p; ++p) {
        if (p[0] == ' ' && (p[1] == '%' || p[1] == '"' || p[1] == '/' || p[1] == '-')) {
            *p = 0;
            break;
        }
    }
}

bool IsProtectedFolder(const char* path)
{
    static const int SHELL_FOLDERS[] = {
        CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU,
        CSIDL_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_DESKTOPDIRECTORY,
        CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_PROGRAM_FILES,
        CSIDL_PROGRAM_FILES_COMMON, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_PROFILE,
        CSIDL_WINDOWS, CSIDL_SYSTEM,
    };
    char plain[MAX_PATH];
    if (!NormalizePath(path, plain) || lstrlenA(plain) <= 3) return true;
    for (unsigned i = 0; i < sizeof SHELL_FOLDERS / sizeof SHELL_FOLDERS[0]; ++i) {
        char special[MAX_PATH], specialPlain[MAX_PATH];
        if (SHGetSpecialFolderPathA(NULL, special, SHELL_FOLDERS[i], FALSE) &&
            NormalizePath(special, specialPlain) && IsBelow(plain, specialPlain, true))
            return true;
    }
    return false;
}

