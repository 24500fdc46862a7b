// The copy of the uninstaller in the temporary folder. A running program
// cannot delete its own file, nor the folder that holds it, so the
// uninstaller started from the installation folder hands the work to a copy
// of itself. The temporary folder is every process's: a copy lying there in
// the open, under a name anyone could guess, could be replaced between its
// writing and its start, and would run with the original's rights whatever
// was put in its place. So:
//   - the copy lies in a new folder of its own, created (never merely
//     opened) under a name nobody can guess, with an access list that lets
//     in only the user, the Administrators and SYSTEM;
//   - the file is created new and written by the original, then opened
//     without write or delete sharing, so that nobody can change or replace
//     it, and compared byte for byte with the original before it is
//     started; the copy inherits that handle;
//   - when the copy has done its work it moves its own file out of the
//     folder and removes the folder; the file, opened to be deleted when
//     its last handle closes, goes when the copy ends, or at the next
//     restart where the system keeps a running program's file until then.
//     A copy ended before that leaves both to the next restart, and to the
//     next uninstaller, which clears what nothing holds any more.
#include "uninst.h"

#include <ntsecapi.h>
#include <sddl.h>

// Names begin with this, the original's process id and 32 random hex
// digits.
static const char FOLDER_STEM[] = "murm-uninst-";

bool DescribePrivateFolderAccess(char* sddl, int size)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    union {
        TOKEN_USER user;
        char bytes[256];
    } info;
    DWORD length = 0;
    BOOL read = GetTokenInformation(token, TokenUser, &info, sizeof info, &length);
    CloseHandle(token);
    char* sid = NULL;
    if (!read || !ConvertSidToStringSidA(info.user.User.Sid, &sid)) return false;
    // Protected (P): nothing is inherited from the temporary folder. Full
    // access for SYSTEM, the Administrators and the user, passed on to the
    // file in the folder (OICI).
    bool fits = lstrlenA(sid) + 64 < size;
    if (fits) wsprintfA(sddl, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)", sid);
    LocalFree(sid);
    return fits;
}

// Creates the private folder; false when none could be made.
static bool MakePrivateFolder(char* folder)
{
    char temp[MAX_PATH], sddl[256];
    PSECURITY_DESCRIPTOR descriptor = NULL;
    DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length + sizeof FOLDER_STEM + 48 >= MAX_PATH ||
        !DescribePrivateFolderAccess(sddl, sizeof sddl) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, NULL))
        return false;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    bool made = false;
    // A name that exists is somebody else's, whoever made it: another is
    // taken.
    for (int attempt = 0; attempt < 16 && !made; ++attempt) {
        unsigned char random[16];
        char digits[2 * sizeof random + 1];
        if (!RtlGenRandom(random, sizeof random)) break;
        for (unsigned i = 0; i < sizeof random; ++i) wsprintfA(digits + 2 * i, "%02x", random[i]);
        wsprintfA(folder, "%s%s%lu-%s", temp, FOLDER_STEM, GetCurrentProcessId(), digits);
        made = CreateDirectoryA(folder, &attributes) != FALSE;
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    LocalFree(descriptor);
    return made;
}

// The whole file into memory from the process heap; null when it cannot be
// read.
static unsigned char* ReadWhole(HANDLE file, DWORD* size)
{
    *size = GetFileSize(file, NULL);
    if (*size == INVALID_FILE_SIZE || *size == 0 || *size > (64u << 20)) return NULL;
    unsigned char* bytes = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, *size);
    DWORD read = 0;
    if (bytes && (!ReadFile(file, bytes, *size, &read, NULL) || read != *size)) {
        HeapFree(GetProcessHeap(), 0, bytes);
        bytes = NULL;
    }
    return bytes;
}

static bool SameBytes(const unsigned char* a, const unsigned char* b, DWORD size)
{
    for (DWORD i = 0; i < size; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Writes the copy, new, and opens it held against change: a handle the
// copy inherits, null when the copy cannot be made or is not the original
// byte for byte.
static HANDLE WriteHeldCopy(const char* exePath, const char* copyPath)
{
    HANDLE held = NULL;
    DWORD size = 0, copySize = 0, written = 0;
    HANDLE source = CreateFileA(exePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (source == INVALID_HANDLE_VALUE) return NULL;
    unsigned char* original = ReadWhole(source, &size);
    CloseHandle(source);
    if (!original) return NULL;

    HANDLE out = CreateFileA(copyPath, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (out != INVALID_HANDLE_VALUE) {
        bool whole = WriteFile(out, original, size, &written, NULL) && written == size;
        CloseHandle(out);
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
        // Read sharing only: the system opens the file again to start it.
        held = CreateFileA(copyPath, GENERIC_READ | DELETE, FILE_SHARE_READ, &inherit, OPEN_EXISTING,
                           FILE_FLAG_DELETE_ON_CLOSE, NULL);
        if (held == INVALID_HANDLE_VALUE) {
            held = NULL;
            DeleteFileA(copyPath);
        } else {
            unsigned char* copy = whole ? ReadWhole(held, &copySize) : NULL;
            if (!copy || copySize != size || !SameBytes(copy, original, size)) {
                CloseHandle(held);
                held = NULL;
            }
            if (copy) HeapFree(GetProcessHeap(), 0, copy);
        }
    }
    HeapFree(GetProcessHeap(), 0, original);
    return held;
}

// The handle's value in decimal behind name: a handle is as wide as a
// pointer.
static void AppendHandle(char* commandLine, const char* name, HANDLE handle)
{
    char digits[24];
    int count = 0;
    UINT_PTR value = (UINT_PTR)handle;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    char* end = commandLine + lstrlenA(commandLine);
    lstrcpyA(end, name);
    end += lstrlenA(name);
    while (count) *end++ = digits[--count];
    *end = 0;
}

// What copies that were ended before they could leave left behind: their
// empty folders, and files of theirs that nothing holds any more. A running
// copy's folder is not empty, and its file is held against deletion.
static void ClearStalePrivateFolders()
{
    char temp[MAX_PATH], pattern[MAX_PATH + 16], path[2 * MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return;
    wsprintfA(pattern, "%s%s*", temp, FOLDER_STEM);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        wsprintfA(path, "%s%s", temp, found.cFileName);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryA(path);
        else DeleteFileA(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool StartPrivateCopy(const char* exePath, const char* commandLineTail)
{
    char folder[MAX_PATH], copyPath[MAX_PATH + 16], temp[MAX_PATH];
    ClearStalePrivateFolders();
    if (!MakePrivateFolder(folder)) return false;
    wsprintfA(copyPath, "%s\\uninst.exe", folder);
    HANDLE held = WriteHeldCopy(exePath, copyPath);
    HANDLE self = NULL;
    bool started = false;
    if (held && DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                                SYNCHRONIZE, TRUE, 0)) {
        static char commandLine[4 * MAX_PATH + 256];
        wsprintfA(commandLine, "\"%s\"", copyPath);
        AppendHandle(commandLine, " /run:", self);
        AppendHandle(commandLine, " /file:", held);
        wsprintfA(commandLine + lstrlenA(commandLine), " \"/origin:%s\"%s", exePath, commandLineTail);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        // The copy works from the temporary folder: a process's current
        // folder cannot be removed.
        GetTempPathA(MAX_PATH, temp);
        started = CreateProcessA(copyPath, commandLine, NULL, NULL, TRUE, 0, NULL, temp, &startup, &process);
        if (started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        CloseHandle(self);
    }
    // The copy holds the file from here; without a copy, closing the last
    // handle deletes it.
    if (held) CloseHandle(held);
    if (!started) RemoveDirectoryA(folder);
    return started;
}

// The copy's file and its private folder; false when the copy does not run
// from a private folder right in the temporary folder, which alone is the
// copy's to remove.
static bool FindPrivateFolder(char* self, char* folder)
{
    char temp[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !GetTempPathA(MAX_PATH, temp)) return false;
    ParentOf(self, folder);
    int tempLength = lstrlenA(temp);
    if (!StartsWith(folder, temp) || !StartsWith(folder + tempLength, FOLDER_STEM)) return false;
    for (const char* p = folder + tempLength; *p; ++p)
        if (*p == '\\') return false;
    return true;
}

void MarkPrivateFolderForRestart()
{
    char self[MAX_PATH], folder[MAX_PATH];
    if (!FindPrivateFolder(self, folder)) return;
    // Noted in this order, the file goes before its folder.
    MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExA(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void LeavePrivateFolder(HANDLE file)
{
    char self[MAX_PATH], folder[MAX_PATH], parked[MAX_PATH + 8];
    if (!FindPrivateFolder(self, folder)) return;
    // The file moves beside the folder, which is then empty, through the
    // handle that holds it: the file cannot be opened again.
    wsprintfA(parked, "%s.exe", folder);
    WCHAR wide[MAX_PATH + 8];
    union {
        FILE_RENAME_INFO info;
        char bytes[sizeof(FILE_RENAME_INFO) + sizeof wide];
    } rename;
    ZeroMemory(&rename, sizeof rename);
    int wideLength = MultiByteToWideChar(CP_ACP, 0, parked, -1, wide, MAX_PATH + 8);
    if (file && wideLength > 1) {
        rename.info.FileNameLength = (DWORD)(wideLength - 1) * sizeof(WCHAR);
        CopyMemory(rename.info.FileName, wide, rename.info.FileNameLength);
        if (SetFileInformationByHandle(file, FileRenameInfo, &rename, sizeof rename))
            MoveFileExA(parked, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    RemoveDirectoryA(folder);
}

