// The Murmelist uninstaller. It lives in the installation folder, next to
// the setup.log that the setup wrote, and removes what that log lists.
//
// A running program cannot delete its own file, nor can the folder that
// holds it be removed, so the uninstaller works in two steps:
//   1. Started from the installation folder, it asks for confirmation,
//      copies itself to the temporary folder and starts the copy, handing it
//      an inheritable handle to itself; then it exits.
//   2. The copy waits on that handle until the original has ended, removes
//      everything (the original uninst.exe last but for its folder),
//      reports, and ends.
//      The original opened the copy's file with FILE_FLAG_DELETE_ON_CLOSE
//      and let the copy inherit that handle too, so the file goes away when
//      the copy's last handle closes at its exit; where the system keeps a
//      running image from that, the copy has also asked for its deletion at
//      the next restart.
//
// Command line:
//   uninst.exe [/quiet] [/report:FILE]
//     /quiet        no questions and no message boxes: the removal goes
//                   ahead, and a file in use is dealt with as after Cancel.
//     /report:FILE  also write the report to FILE (Windows-1251, CR LF): one
//                   line per item left behind, then one per item the next
//                   restart deletes (marked " (удаление при перезагрузке)");
//                   an empty file when everything was removed. The file is
//                   written last, so its presence means the uninstaller has
//                   finished.
//   Internal, for the copy: /run:HANDLE /origin:PATH, where HANDLE is the
//   inherited handle of the original process and PATH its exe.
//
// A file that another program holds open is asked about (Retry, Cancel).
// After Cancel the system is asked to delete it, and then its folder, at
// the next restart. Where it refuses, the uninstaller keeps itself, the log
// and the uninstall entry, so that running it again once the program is
// closed finishes the job; the report then names the files in use, not
// what was kept for that run.
//
// Exit code (of the copy, where one was started):
//   0  everything was removed, or the user said No
//   1  something was left behind (also when the uninstaller kept itself for
//      another run)
//   2  there is no setup.log to read
//   3  all that is left goes at the next restart
#include "uninst.h"

static const char CAPTION[] = "Удаление программы";
static const DWORD ORIGINAL_EXIT_TIMEOUT = 30000;

static bool s_quiet;
static char s_reportPath[MAX_PATH];
static HANDLE s_original;
static char s_originPath[MAX_PATH];

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

static bool StartsWith(const char* text, const char* prefix)
{
    int length = lstrlenA(prefix);
    return lstrlenA(text) >= length &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, text, length, prefix, length) == CSTR_EQUAL;
}

static void ReadCommandLine()
{
    char argument[MAX_PATH + 16];
    const char* p = NextArgument(GetCommandLineA(), argument, sizeof argument);
    while (p && (p = NextArgument(p, argument, sizeof argument)) != NULL) {
        if (lstrcmpiA(argument, "/quiet") == 0) {
            s_quiet = true;
        } else if (StartsWith(argument, "/report:")) {
            lstrcpynA(s_reportPath, argument + 8, MAX_PATH);
        } else if (StartsWith(argument, "/origin:")) {
            lstrcpynA(s_originPath, argument + 8, MAX_PATH);
        } else if (StartsWith(argument, "/run:")) {
            UINT_PTR value = 0;
            for (const char* d = argument + 5; *d >= '0' && *d <= '9'; ++d) value = value * 10 + (*d - '0');
            s_original = (HANDLE)value;
        }
    }
}

// folder = the folder part of path, without the last backslash.
static void FolderOf(const char* path, char* folder)
{
    lstrcpynA(folder, path, MAX_PATH);
    int cut = 0;
    for (int i = 0; folder[i]; ++i) {
        if (folder[i] == '\\' || folder[i] == '/') cut = i;
    }
    folder[cut] = 0;
}

static void WriteText(HANDLE file, const char* text, int length)
{
    DWORD written;
    WriteFile(file, text, (DWORD)length, &written, NULL);
}

static void WriteReport()
{
    if (!s_reportPath[0]) return;
    HANDLE file = CreateFileA(s_reportPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    WriteText(file, LeftoverText(), lstrlenA(LeftoverText()));
    for (const char* line = RestartText(); *line;) {
        const char* end = line;
        while (*end && *end != '\r') ++end;
        WriteText(file, line, (int)(end - line));
        WriteText(file, RestartNote(), lstrlenA(RestartNote()));
        WriteText(file, "\r\n", 2);
        line = *end ? end + 2 : end;
    }
    CloseHandle(file);
}

static void ShowBox(const char* text, UINT type)
{
    if (!s_quiet) MessageBoxA(NULL, text, CAPTION, type | MB_SETFOREGROUND);
}

static int ReportMissingLog(const char* folder)
{
    char logPath[MAX_PATH + 16], text[MAX_PATH + 200];
    wsprintfA(logPath, "%s\\setup.log", folder);
    AddLeftover(folder);
    wsprintfA(text, "Не найден журнал установки:\n%s\n\nУдаление невозможно.", logPath);
    ShowBox(text, MB_OK | MB_ICONERROR);
    WriteReport();
    return 2;
}

bool AskToCloseProgram(const char* path)
{
    if (s_quiet) return false;
    char text[MAX_PATH + 200];
    wsprintfA(text, "Файл используется другой программой:\n%s\n\n"
                    "Закройте эту программу и повторите попытку.", path);
    return MessageBoxA(NULL, text, CAPTION, MB_RETRYCANCEL | MB_ICONWARNING | MB_SETFOREGROUND) == IDRETRY;
}

static int ReportResult(const char* programName)
{
    if (!HasLeftovers() && !HasRestartItems()) {
        char text[MAX_PATH + 100];
        wsprintfA(text, "Программа %s удалена с компьютера.", programName);
        ShowBox(text, MB_OK | MB_ICONINFORMATION);
        WriteReport();
        return 0;
    }
    // wsprintfA stops at 1024 characters; the lists can be longer.
    static char text[2 * 8192 + 512];
    text[0] = 0;
    if (KeptForNextRun()) {
        lstrcatA(text, "Удаление не завершено: следующие объекты удалить не удалось:\n\n");
        lstrcatA(text, LeftoverText());
        lstrcatA(text, "\nЗакройте программу, которая использует эти файлы, и запустите "
                       "удаление ещё раз.");
    } else if (HasLeftovers()) {
        lstrcatA(text, "Удаление завершено, но следующие объекты удалить не удалось:\n\n");
        lstrcatA(text, LeftoverText());
        lstrcatA(text, "\nУдалите их вручную.");
    }
    if (HasRestartItems()) {
        lstrcatA(text, text[0] ? "\n\n" : "Удаление завершено. ");
        lstrcatA(text, "Файлы, которые используются другой программой, и их папки будут "
                       "удалены при следующей перезагрузке компьютера:\n\n");
        lstrcatA(text, RestartText());
    }
    ShowBox(text, MB_OK | MB_ICONWARNING);
    WriteReport();
    return HasLeftovers() ? 1 : 3;
}

static void AppendQuotedArgument(char* commandLine, const char* name, const char* value)
{
    lstrcatA(commandLine, " ");
    lstrcatA(commandLine, name);
    lstrcatA(commandLine, "\"");
    lstrcatA(commandLine, value);
    lstrcatA(commandLine, "\"");
}

// The handle's value in decimal, whole: a handle is as wide as a pointer.
static void AppendHandle(char* commandLine, HANDLE handle)
{
    char digits[24];
    int count = 0;
    UINT_PTR value = (UINT_PTR)handle;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    char* end = commandLine + lstrlenA(commandLine);
    while (count)
        *end++ = digits[--count];
    *end = 0;
}

// Step 1: hands the work to a copy in the temporary folder. False when the
// copy cannot be made or started; the caller then works on its own.
static bool StartCopy(const char* exePath)
{
    char tempFolder[MAX_PATH], copyPath[MAX_PATH + 64];
    DWORD length = GetTempPathA(MAX_PATH, tempFolder);
    if (length == 0 || length >= MAX_PATH - 40) return false;
    wsprintfA(copyPath, "%smurm-uninst-%lu-%lu.exe", tempFolder, GetCurrentProcessId(), GetTickCount());
    if (!CopyFileA(exePath, copyPath, FALSE)) return false;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE copyFile = CreateFileA(copyPath, GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  &inherit, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, NULL);
    HANDLE self = NULL;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                         SYNCHRONIZE, TRUE, 0)) {
        if (copyFile != INVALID_HANDLE_VALUE) CloseHandle(copyFile);
        else DeleteFileA(copyPath);
        return false;
    }

    char commandLine[4 * MAX_PATH + 128];
    wsprintfA(commandLine, "\"%s\" /run:", copyPath);
    AppendHandle(commandLine, self);
    AppendQuotedArgument(commandLine, "/origin:", exePath);
    if (s_quiet) lstrcatA(commandLine, " /quiet");
    if (s_reportPath[0]) AppendQuotedArgument(commandLine, "/report:", s_reportPath);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    // The copy works from the temporary folder: a process's current folder
    // cannot be removed.
    BOOL started = CreateProcessA(copyPath, commandLine, NULL, NULL, TRUE, 0, NULL,
                                  tempFolder, &startup, &process);
    if (copyFile != INVALID_HANDLE_VALUE) CloseHandle(copyFile);
    else if (!started) DeleteFileA(copyPath);
    CloseHandle(self);
    if (!started) return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Step 2, in the copy: the original must have ended before its file and
// folder can go.
static int RunCopy()
{
    WaitForSingleObject(s_original, ORIGINAL_EXIT_TIMEOUT);
    CloseHandle(s_original);

    char folder[MAX_PATH], programName[MAX_PATH];
    FolderOf(s_originPath, folder);
    ReadProgramName(folder, programName, sizeof programName);
    bool found = RemoveInstallation(folder, s_originPath);

    char self[MAX_PATH];
    if (GetModuleFileNameA(NULL, self, MAX_PATH)) MoveFileExA(self, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
    return found ? ReportResult(programName) : ReportMissingLog(folder);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ReadCommandLine();
    if (s_original && s_originPath[0]) return RunCopy();

    char exePath[MAX_PATH], folder[MAX_PATH], programName[MAX_PATH], logPath[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(NULL, exePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    FolderOf(exePath, folder);
    wsprintfA(logPath, "%s\\setup.log", folder);
    if (GetFileAttributesA(logPath) == INVALID_FILE_ATTRIBUTES) return ReportMissingLog(folder);

    ReadProgramName(folder, programName, sizeof programName);
    if (!s_quiet) {
        char question[MAX_PATH + 100];
        wsprintfA(question, "Удалить программу %s и все её компоненты?", programName);
        if (MessageBoxA(NULL, question, CAPTION, MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES)
            return 0;
    }
    if (StartCopy(exePath)) return 0;

    // No copy: remove what we can from here; this file and its folder stay
    // and are reported.
    RemoveInstallation(folder, exePath);
    return ReportResult(programName);
}
