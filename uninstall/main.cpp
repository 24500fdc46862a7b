// The Murmelist uninstaller. It lives in the installation folder, next to
// the setup.log that the setup wrote, and removes what that log lists of
// this installation's. It works in two steps:
//   1. Started from the installation folder, it asks for confirmation and
//      hands the work to a copy of itself in a private folder of the
//      temporary folder (private_copy.cpp), then exits: a running program
//      cannot delete its own file or folder.
//   2. The copy waits until the original has ended, removes everything (the
//      original uninst.exe last but for its folder), leaves its private
//      folder, reports, and ends.
// Both steps first restrict the DLL search to the system folder: the
// installation folder and the temporary folder are both places where
// others may have planted a DLL under a system DLL's name.
//
// Command line:
//   uninst.exe [/quiet] [/report:FILE]
//     /quiet        no questions and no message boxes: the removal goes
//                   ahead, and a file in use is dealt with as after Cancel.
//     /report:FILE  also write the report to FILE (report.cpp).
//   Internal, for the copy: /run:HANDLE /file:HANDLE /origin:PATH, the
//   inherited handles of the original process and of the copy's own file,
//   and the original's path.
//
// A file that another program holds open is asked about (Retry, Cancel).
// After Cancel the system is asked to delete it, and then its folder, at
// the next restart. Where it refuses, the uninstaller keeps itself, the log
// and the uninstall entry, so that running it again once the program is
// closed finishes the job.
//
// Only one program of the product works at a time (core/running.h): the
// original takes the lock before it asks anything, and its copy inherits
// the lock's handle.
//
// Exit code (of the copy, where one was started):
//   0  everything was removed, or the user said No
//   1  something was left behind, or the log names something that is not
//      this installation's (also when the uninstaller kept itself for
//      another run)
//   2  there is no setup.log to read
//   3  all that is left goes at the next restart
//   5  another setup or uninstaller of the product is running; nothing was
//      done
#include "uninst.h"

#include "../core/running.h"
#include "../core/safeload.h"

static const DWORD ORIGINAL_EXIT_TIMEOUT = 30000;

// The copy's: the original process and the copy's own file, both
// inherited, and the original's path.
static HANDLE s_original;
static HANDLE s_file;
static char s_originPath[MAX_PATH];
// The options the copy is given again.
static char s_passedOn[MAX_PATH + 32];

// Copies the next command-line argument into out, without its quotes, and
// returns where the one after it starts; null when there is none.
static const char* NextArgument(const char* p, char* out, int outSize)
{
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) return NULL;
    int length = 0;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
        if (*p == '"') quoted = !quoted;
        else if (length < outSize - 1) out[length++] = *p;
    }
    out[length] = 0;
    return p;
}

static HANDLE ParseHandle(const char* digits)
{
    UINT_PTR value = 0;
    for (; *digits >= '0' && *digits <= '9'; ++digits) value = value * 10 + (UINT_PTR)(*digits - '0');
    return (HANDLE)value;
}

static void ReadCommandLine()
{
    char argument[MAX_PATH + 16];
    const char* p = NextArgument(GetCommandLineA(), argument, sizeof argument);
    while (p && (p = NextArgument(p, argument, sizeof argument)) != NULL) {
        if (lstrcmpiA(argument, "/quiet") == 0) {
            SetQuiet(true);
            lstrcatA(s_passedOn, " /quiet");
        } else if (StartsWith(argument, "/report:")) {
            SetReportPath(argument + 8);
            wsprintfA(s_passedOn + lstrlenA(s_passedOn), " \"%s\"", argument);
        } else if (StartsWith(argument, "/origin:")) {
            lstrcpynA(s_originPath, argument + 8, MAX_PATH);
        } else if (StartsWith(argument, "/run:")) {
            s_original = ParseHandle(argument + 5);
        } else if (StartsWith(argument, "/file:")) {
            s_file = ParseHandle(argument + 6);
        }
    }
}

// Step 2, in the copy: the original must have ended before its file and
// folder can go.
static int RunCopy()
{
    MarkPrivateFolderForRestart();
    WaitForSingleObject(s_original, ORIGINAL_EXIT_TIMEOUT);
    CloseHandle(s_original);
    char folder[MAX_PATH], programName[MAX_PATH];
    ParentOf(s_originPath, folder);
    bool found = NameLog(folder);
    ReadProgramName(programName, sizeof programName);
    found = found && RemoveInstallation(folder, s_originPath);
    LeavePrivateFolder(s_file);
    return found ? ReportResult(programName) : ReportMissingLog(folder);
}

// The lock, inheritable for the copy. False when another program of the
// product holds it: also when it is there but may not be opened, as one
// made in another session may be.
static bool TakeLock()
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE lock = CreateMutexA(&inherit, FALSE, RUNNING_OBJECT_NAME);
    if (!lock) return GetLastError() != ERROR_ACCESS_DENIED;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return true;
    CloseHandle(lock);
    return false;
}

static int Uninstall()
{
    ReadCommandLine();
    if (s_original && s_originPath[0]) return RunCopy();
    if (!TakeLock()) return ReportAlreadyRunning();

    char exePath[MAX_PATH], folder[MAX_PATH], programName[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, exePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    ParentOf(exePath, folder);
    if (!NameLog(folder) || !Exists(LogPath())) return ReportMissingLog(folder);
    ReadProgramName(programName, sizeof programName);
    if (!AskToRemove(programName)) return 0;
    if (StartPrivateCopy(exePath, s_passedOn)) return 0;

    // No copy: remove what we can from here; this file and its folder stay
    // and are reported.
    RemoveInstallation(folder, exePath);
    return ReportResult(programName);
}

// There is no run-time library: nothing runs before this. The system
// starts a 32-bit program with its stack aligned to 4 bytes only; the code
// may keep values there that want 16.
extern "C" __attribute__((used, force_align_arg_pointer)) void WinMainCRTStartup()
{
    RestrictDllSearch();
    ExitProcess((UINT)Uninstall());
}
