// Drives a Windows GUI program from a second process, as a user would:
// start it, find its windows by caption, read and operate their controls,
// answer its message boxes, and end it. Used by the end-to-end tests and
// the demonstration run.
//
// Everything talks to the other process through the wide (W) calls, so
// Cyrillic texts arrive intact whatever the program's own code page. Every
// wait takes a timeout and gives up when it runs out: a window that never
// appears fails a test, it never hangs it.
#ifndef MURM_UIDRIVER_H
#define MURM_UIDRIVER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace ui {

// Long enough for a Wine process to start in a busy test run.
const int WAIT_MS = 15000;
// How long a check that something does NOT happen watches for it.
const int QUIET_MS = 700;

// ---- Texts and paths ----

// UTF-16 from UTF-8 and back (test sources and the host's files are UTF-8).
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);
// Bytes in a code page (the setup's files and logs are Windows-1251).
std::string ToCodePage(const std::wstring& text, UINT codePage = 1251);
std::wstring FromCodePage(const std::string& bytes, UINT codePage = 1251);
// A path of the Linux host as Wine sees it: Z: and backslashes.
std::wstring HostPath(const char* linuxPath);
// Reads a whole file; false when it cannot be opened.
bool ReadFileBytes(const std::wstring& path, std::string* bytes);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// ---- Processes ----

// One variable to set (remove false) or to take away (remove true) in the
// environment that the started program receives.
struct EnvChange {
    std::wstring name;
    std::wstring value;
    bool remove = false;
};

struct Launch {
    std::wstring program;                // full path of the executable
    std::wstring arguments;              // appended to the quoted program
    std::wstring currentDirectory;       // empty: the driver's own
    std::vector<EnvChange> environment;  // applied to a copy of ours
};

// A started program. It is ended when this goes out of scope, so a failing
// test never leaves it behind.
struct Process {
    HANDLE handle = nullptr;
    DWORD id = 0;
    // Set while this process debugs it (HoldAtCall), with the thread whose
    // debug event holds it; Kill ends the debugging too.
    bool debugged = false;
    DWORD heldThread = 0;

    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();
};

bool Start(const Launch& launch, Process* process, std::wstring* error = nullptr);
bool IsRunning(const Process& process);
// True when the process ended within timeoutMs; *exitCode gets its code.
bool WaitForExit(const Process& process, int timeoutMs, DWORD* exitCode);
// Ends the process if it still runs and releases the handle.
void Kill(Process* process);

// ---- Holding a program at a call ----

// A call the program makes to a system function: the nth of those that come
// from the program's own executable (calls the system's code makes on its
// behalf do not count).
struct Call {
    const wchar_t* module;  // the DLL the program imports it from
    const char* function;
    int nth;
};

// Attaches to the running process as its debugger, runs start, and lets
// the process go on until it enters that call: it is then held there, the
// call not yet made, until Kill ends it, as a crash at that instant would.
// A held process is a state that stays, so a test can end a program at an
// exact step however fast or slow the machine. start may only post to the
// process, never wait for it: it runs only between the debugger's turns.
// False, with the process ended, when it ended first or timeoutMs ran out.
bool HoldAtCall(Process* process, const Call& call, const std::function<void()>& start,
                int timeoutMs = WAIT_MS);

// ---- Windows ----

// The visible top-level windows of a process, in z-order.
std::vector<HWND> TopLevelWindows(DWORD processId);
// A window's caption, read without a message to the window's thread.
std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
DWORD WindowProcess(HWND window);

// Polls condition until it holds or timeoutMs runs out.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = WAIT_MS);

// A dialog of the process that no window owns (the wizard's pages are
// shown that way), whose caption is exactly caption; null when none.
HWND FindPage(DWORD processId, const std::wstring& caption);
HWND WaitForPage(DWORD processId, const std::wstring& caption, int timeoutMs = WAIT_MS);
// The unowned dialog the process shows now, whatever its caption.
HWND CurrentPage(DWORD processId);
// Any visible top-level window of the process with that caption.
HWND WaitForWindow(DWORD processId, const std::wstring& caption, int timeoutMs = WAIT_MS);
bool WaitForGone(HWND window, int timeoutMs = WAIT_MS);

// The full path of a running process's executable; empty when unknown.
std::wstring ProcessImage(DWORD processId);
// A visible top-level window of any process started from imagePath (case
// does not matter, as in the file system); *processId gets its process.
HWND WaitForProgramWindow(const std::wstring& imagePath, DWORD* processId,
                          int timeoutMs = WAIT_MS);
// Closes the window of another process and makes sure that process ends.
void EndProgram(HWND window, DWORD processId);

// ---- Controls (by dialog control id) ----

HWND Control(HWND dialog, int id);
// What the control itself answers to WM_GETTEXT (an edit box's contents).
std::wstring ControlText(HWND dialog, int id);
bool HasControl(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
LONG Style(HWND window);
int CheckState(HWND dialog, int id);   // BM_GETCHECK
LRESULT ButtonState(HWND dialog, int id);  // BM_GETSTATE

// Clicks a button. The click is posted, so it may open a modal box or end
// the dialog without blocking the driver.
bool Click(HWND dialog, int id);
// Clicks a button and returns once the dialog has handled the click. Only
// for clicks that open nothing modal.
bool ClickNow(HWND dialog, int id);
// Puts text into the control at once, as a program would (WM_SETTEXT):
// any limit on what the user may type does not apply.
bool SetControlText(HWND dialog, int id, const std::wstring& text);
// Replaces an edit box's contents by typing text into it one character at
// a time, as a user would: the box's own length limit applies.
bool TypeText(HWND dialog, int id, const std::wstring& text);
// The texts of a list box's items, in list order.
std::vector<std::wstring> ListItems(HWND dialog, int id);
// Selects the item with exactly that text and tells the dialog it was
// double-clicked, as the list box itself does. False when no item matches.
bool DoubleClickListItem(HWND dialog, int id, const std::wstring& item);
// Asks the window to close, as the title bar's close box does.
bool Close(HWND window);

// ---- Message boxes ----

struct MessageBoxInfo {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // ids of the visible buttons (IDOK, IDYES ...)
    int defaultButton = 0;     // the one with BS_DEFPUSHBUTTON, 0 when none
    bool hasIcon = false;
};

// A message box the process shows (its text control has id 0xFFFF, its
// buttons the answer ids); null when none is shown.
HWND FindMessageBox(DWORD processId);
// False while the box is not whole yet (its answers laid out, one of them
// the default).
bool ReadMessageBox(HWND box, MessageBoxInfo* info);
// Waits until the box is whole and reads it; false when it went first.
bool ReadWholeMessageBox(HWND box, MessageBoxInfo* info);
bool WaitForMessageBox(DWORD processId, MessageBoxInfo* info, int timeoutMs = WAIT_MS);
// True when no message box appears within timeoutMs.
bool NoMessageBoxFor(DWORD processId, int timeoutMs = QUIET_MS);
// Presses the box's button (IDYES, IDNO, IDOK, IDRETRY, IDCANCEL ...) and
// waits for the box to go away.
bool Answer(HWND box, int buttonId, int timeoutMs = WAIT_MS);

}  // namespace ui

#endif
