// The setup program's shared declarations: the one global record of the
// run, page results, and every function that one file calls in another.
#ifndef MURM_SETUP_H
#define MURM_SETUP_H

#include <windows.h>
// strlen only: setup.exe carries its own (core/crt.cpp).
#include <string.h>

// The imported functions the 32-bit code calls most often are called
// through their import library's jump to the import address table: one
// relocation for all of a function's calls instead of one a call, and each
// call a byte shorter. (The 64-bit code reaches the table relative to the
// instruction, with no relocation to save.)
#if defined(__i386__)
extern "C" {
int WINAPIV JumpedWsprintfA(LPSTR, LPCSTR, ...) __asm__("_wsprintfA");
LRESULT WINAPI JumpedSendMessageA(HWND, UINT, WPARAM, LPARAM) __asm__("_SendMessageA@16");
LRESULT WINAPI JumpedSendDlgItemMessageA(HWND, int, UINT, WPARAM, LPARAM)
    __asm__("_SendDlgItemMessageA@20");
BOOL WINAPI JumpedSetDlgItemTextA(HWND, int, LPCSTR) __asm__("_SetDlgItemTextA@12");
BOOL WINAPI JumpedEndDialog(HWND, INT_PTR) __asm__("_EndDialog@8");
HWND WINAPI JumpedGetDlgItem(HWND, int) __asm__("_GetDlgItem@8");
HWND WINAPI JumpedGetActiveWindow() __asm__("_GetActiveWindow@0");
DWORD WINAPI JumpedGetFileAttributesA(LPCSTR) __asm__("_GetFileAttributesA@4");
BOOL WINAPI JumpedDeleteFileA(LPCSTR) __asm__("_DeleteFileA@4");
}
#define wsprintfA JumpedWsprintfA
#define SendMessageA JumpedSendMessageA
#define SendDlgItemMessageA JumpedSendDlgItemMessageA
#define SetDlgItemTextA JumpedSetDlgItemTextA
#define EndDialog JumpedEndDialog
#define GetDlgItem JumpedGetDlgItem
#define GetActiveWindow JumpedGetActiveWindow
#define GetFileAttributesA JumpedGetFileAttributesA
#define DeleteFileA JumpedDeleteFileA
#endif

#include "../resources/ids.h"
#include "package.h"

// Marks a function that a run calls once or never: setup.exe carries it
// behind its resources (cmake/setup.ld), where it costs a share of the last
// 512-byte blocks of the file instead of pages in front of the resources.
#define LATE_CODE __attribute__((section(".late$code")))

// Holds the address of a global (a buffer of g_setup, a string) in a
// register for the rest of the function. Left alone, the compiler repeats
// the address at every use, each time 4 bytes of code and a relocation.
#define HOLD_ADDRESS(pointer) __asm__("" : "+r"(pointer))

// The calling thread's last error, read where the system keeps it, in the
// thread's own block, without importing a call to ask for it.
inline DWORD LastError()
{
    DWORD error;
#if defined(__i386__)
    __asm__ volatile("movl %%fs:0x34, %0" : "=r"(error) : : "memory");
#else
    __asm__ volatile("movl %%gs:0x68, %0" : "=r"(error) : : "memory");
#endif
    return error;
}

// The platform's path limit, NUL included. Every path lives in a buffer of
// this size and is built through JoinPath, which refuses what will not fit.
const int PATH_SIZE = MAX_PATH;
// Room for a folder and a name joined, each up to a path long: registry
// values that hold a quoted path, and a path too long to be made but still
// to be named in a message.
const int LONG_PATH_SIZE = 2 * PATH_SIZE + 8;
// wsprintfA writes at most this many bytes, NUL included: every message
// text is formatted into a buffer of this size.
const int MESSAGE_SIZE = 1024;

// What a page ends its dialog with; the page loop adds it to its index,
// which counts in halves: no step is the -1 with which DialogBoxParamA
// tells of a dialog it could not make.
const int PAGE_BACK = -2;
const int PAGE_EXIT = 0;
const int PAGE_NEXT = 2;
const int PAGE_COUNT = 6;

struct SetupState {
    // The numbers and pointers come first: through a pointer to the
    // record, each is a byte's offset away.
    HINSTANCE instance;
    const char* productFolderName;
    const char* uninstallerName;
    const char* displayName;
    uint32_t payloadTotal;
    uint32_t progress;
    int linkCount;
    // The group's shortcuts: the pairs of the package's list (target, then
    // name) as far as they are whole, and how many.
    const char* groupLinks;
    int groupLinkCount;
    // Items of the installation given up (a file, a shortcut, the group,
    // a registry entry): the finish page and the exit code tell them.
    int missingCount;
    // The destination page made the installation folder.
    bool madeFolder;
    // The process's exit code, when not the one the run's end gives.
    int exitCode;
    char defaultFolder[PATH_SIZE];
    char groupName[PATH_SIZE];
    char installFolder[PATH_SIZE];
    char programsFolder[PATH_SIZE];
    char groupFolder[PATH_SIZE];
    char logPath[PATH_SIZE];
    char startupTarget[PATH_SIZE];
    char startupName[PATH_SIZE];
    char desktopTarget[PATH_SIZE];
    char desktopName[PATH_SIZE];
    char runTarget[PATH_SIZE];
};

// Exit codes. 0: installed completely, or the user left the wizard.
const int EXIT_DAMAGED = 1;     // the setup file is damaged
const int EXIT_INCOMPLETE = 2;  // installed, but items were given up
const int EXIT_TAKEN_BACK = 3;  // the setup took its installation back
const int EXIT_NO_PAGE = 4;     // a page could not be shown

extern SetupState g_setup;
// The one large buffer: the own file's name and pieces in its check, the
// agreement's text while its page takes a copy, then the list of what the
// next restart deletes.
const DWORD SCRATCH_SIZE = 512u << 10;
extern unsigned char g_scratch[SCRATCH_SIZE];
// core/state.cpp: the instance and the package's build-time values.
void InitialiseSetupState(HINSTANCE instance);

// The pages' procedures in their order; their templates' ids follow each
// other in the same order from IDD_WELCOME.
extern const DLGPROC PageTable[PAGE_COUNT];

// core/wizard.cpp
int RunWizard(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
void LoadSetupStrings();
int ConfirmExit(HWND page);
// COMCTL32 from the system folder, once, before its first use.
void LoadCommonControls();
// Lets the system see that the UI thread is alive during the long install
// sequence, without servicing any input: Cancel stays unserviced there.
void KeepResponsive();
// The behaviour every page shares: WM_CLOSE asks ConfirmExit, Cancel closes,
// Back ends with PAGE_BACK, Next with PAGE_NEXT (a page that checks first
// handles Next itself), and WM_INITDIALOG leaves the focus to the dialog.
// Returns TRUE when it handled the message.
INT_PTR HandleCommonPageMessage(HWND page, UINT message, WPARAM wParam);

// core/selfcheck.cpp: true when the file's image checksum is set and
// right; false also when it cannot be opened or read. A check still
// running after CHECK_WINDOW_AFTER_MS shows a window with its progress.
const DWORD CHECK_WINDOW_AFTER_MS = 1000;
bool VerifyImageFile(const wchar_t* path);
bool VerifyOwnFile();

// core/resource.cpp: a package resource, locked for the rest of the run.
// Null with *size 0 when the resource is missing.
const unsigned char* LockDataResource(int id, uint32_t* size);

// core/strings.cpp: bounded string helpers.
// out (size bytes) = the pieces end to end; false, with out emptied, when
// the result would need more than size - 1 characters. Only a may be out
// itself. A null piece is an empty one.
bool JoinText(char* out, int size, const char* a, const char* b,
              const char* c = 0, const char* d = 0);
// JoinText into a PATH_SIZE buffer.
bool JoinStrings(char* out, const char* a, const char* b,
                 const char* c = 0, const char* d = 0);
// out = folder + "\" + name + suffix, through JoinStrings.
bool JoinPath(char* out, const char* folder, const char* name,
              const char* suffix = 0);
bool CopyString(char* out, const char* text);
// Drops the spaces and dots that the file system drops from the end of a
// name, so that the name used is the name stored.
void TrimNameEnd(char* name);
// True for a name of spaces and dots only, which that leaves empty.
bool IsBlankName(const char* name);
const char* LongerOf(const char* a, const char* b);
// The string behind text's terminator, in a list of strings end to end.
// Inline: a loop over the bytes is shorter than a call to measure them.
inline const char* NextText(const char* text)
{
    while (*text++) {
    }
    return text;
}

// core/message.cpp: every message box the program shows.
int ShowMessage(HWND owner, const char* text, const char* caption, UINT type);
// caption "Ошибка", the program's caption for its own errors
int ShowError(HWND owner, const char* text, UINT type);
// The pieces end to end (a problem, then what it is about), caption
// "Ошибка".
int ShowProblem(HWND owner, UINT type, const char* a, const char* b, const char* c = 0,
                const char* d = 0);
// "Невозможно " + what + item (a null item adds nothing).
int ShowCannot(HWND owner, UINT type, const char* what, const char* item);
// problem + item, with OK alone: a page's refusal of what the user gave.
void ShowRefusal(HWND page, const char* problem, const char* item);
// "Невозможно " + what + item, with OK alone: what the user asked for
// could not be done.
void ShowFailure(HWND page, const char* what, const char* item);
// "Невозможно " + what + item, with Retry and Cancel; true for Retry. Every
// step that cannot make its file, folder, shortcut or registry key asks
// this way.
bool AskRetry(HWND owner, const char* what, const char* item);

// log/setup_log.cpp: every item goes into the log before it is made. True
// when the log on disk holds the entry; an item whose entry could not be
// written is not made. Sections and keys: log/setup_log.h.
// Names the log in the installation folder, and notes whether an earlier
// run's log is there: what that records is then kept recorded.
void NameLog();
// Deletes the log of an installation taken back, unless it holds an
// earlier run's record.
void DiscardLog();
bool LogWrite(const char* section, const char* key, const char* value);
bool LogWriteNumber(const char* section, const char* key, int number);
// key = prefix and number, as in File3 or Link2.
bool LogWriteNumbered(const char* section, const char* prefix, int number, const char* value);
// Writes the key, value pairs of a list that ends with a null key.
bool LogWriteList(const char* section, const char* const* pairs);
// Takes the entry of an item given up out of the log again: a key, or with
// a null key the whole section. Not where an earlier run's log was found:
// the entry may record that run's item too.
void LogForget(const char* section, const char* key);
void LogForgetNumbered(const char* section, const char* prefix, int number);
// A value as the log on disk records it (LONG_PATH_SIZE bytes); false when
// not there.
bool LogReadNumbered(const char* section, const char* prefix, int number, char* value);

// core/files.cpp
int PathExists(const char* path);
bool IsFolder(const char* path);
bool IsFile(const char* path);
// The file at path opened for writing alone, shared with no one.
HANDLE OpenForWriting(const char* path, DWORD disposition);
// Takes every deletion of path pending for the next restart off the
// system's list, before the setup writes there.
void KeepFromRestartDeletion(const char* path);

// actions/extract.cpp
// False when the package's uninstaller was given up.
bool ExtractPayload(const unsigned char* archive, uint32_t size, HWND page);
// Removes what extraction made (the files the log names, the log, and the
// folder when the destination page made it), for an installation that
// could not be undone otherwise.
void TakeBackPayload();
void AdvanceProgress(HWND page, uint32_t size);

// actions/shortcuts.cpp
bool SpecialFolderPath(int folderId, char* buffer);
// The group's shortcut of that number (1 to groupLinkCount): its name, and
// its target in *target.
const char* GroupLink(int number, const char** target);
// The longest target (names false) or name (names true) of the group's
// shortcuts; "" when there are none.
const char* LongestGroupLink(bool names);
void CreateGroupFolder();
void CreateGroupShortcuts();
void AddExtraShortcut(int folderId, const char* name, const char* target);

// actions/registry.cpp
void RegisterUninstall();
// The [RegUninst] entries of the log. They begin with the keys n and Dir,
// and SubKey follows the uninstall key's path: the code names those keys
// there rather than by a copy of their text (where log/setup_log.h and
// core/texts.h are included).
extern const char UNINSTALL_LOG[];
#define KEY_COUNT (UNINSTALL_LOG)
#define KEY_DIR (UNINSTALL_LOG + sizeof LOG_COUNT "\0" "3")
#define KEY_SUB_KEY (KEY_DIR + sizeof LOG_DIR + sizeof UNINSTALL_KEY)
void RegisterFileType();

// pages/*.cpp
INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AgreementPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DestinationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK GroupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK CopyingPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// The shell's folder picker, opening at the installation folder and
// putting the folder picked there.
void BrowseForFolder(HWND owner);
void FillGroupList(HWND list, const char* folder);
int IsValidGroupName(const char* name);

#endif
