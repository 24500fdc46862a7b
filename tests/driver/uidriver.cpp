#include "uidriver.h"

#include <psapi.h>
#include <stdio.h>
#include <wchar.h>

namespace ui {

namespace {

// A window of another process that stops answering must not stop the
// driver: every synchronous message gives up after this long.
const UINT SEND_TIMEOUT_MS = 5000;
const int POLL_MS = 30;

bool SendNow(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG,
                             SEND_TIMEOUT_MS, &answer))
        return false;
    if (result) *result = (LRESULT)answer;
    return true;
}

LRESULT SendValue(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    LRESULT result = 0;
    SendNow(window, message, wParam, lParam, &result);
    return result;
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) ==
           CSTR_EQUAL;
}

bool IsDialog(HWND window) { return ClassName(window) == L"#32770"; }

bool IsUnowned(HWND window) { return GetWindow(window, GW_OWNER) == nullptr; }

// The environment block for a started program: ours, with the changes.
std::vector<wchar_t> MakeEnvironment(const std::vector<EnvChange>& changes)
{
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) entries.push_back(p);
    FreeEnvironmentStringsW(block);

    for (const EnvChange& change : changes) {
        for (size_t i = 0; i < entries.size();) {
            // Entries such as "=C:=C:\" name a drive, not a variable.
            size_t sign = entries[i].find(L'=', 1);
            if (sign != std::wstring::npos && SameText(entries[i].substr(0, sign), change.name))
                entries.erase(entries.begin() + i);
            else
                ++i;
        }
        if (!change.remove) entries.push_back(change.name + L"=" + change.value);
    }

    std::vector<wchar_t> result;
    for (const std::wstring& entry : entries) {
        result.insert(result.end(), entry.begin(), entry.end());
        result.push_back(L'\0');
    }
    result.push_back(L'\0');
    if (entries.empty()) result.push_back(L'\0');
    return result;
}

}  // namespace

// ---- Texts and paths ----

std::wstring Widen(const std::string& utf8) { return FromCodePage(utf8, CP_UTF8); }

std::string Narrow(const std::wstring& text) { return ToCodePage(text, CP_UTF8); }

std::string ToCodePage(const std::wstring& text, UINT codePage)
{
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(codePage, 0, text.data(), (int)text.size(), nullptr, 0,
                                   nullptr, nullptr);
    std::string result(size, '\0');
    WideCharToMultiByte(codePage, 0, text.data(), (int)text.size(), &result[0], size, nullptr,
                        nullptr);
    return result;
}

std::wstring FromCodePage(const std::string& bytes, UINT codePage)
{
    if (bytes.empty()) return std::wstring();
    int size = MultiByteToWideChar(codePage, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
    std::wstring result(size, L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), (int)bytes.size(), &result[0], size);
    return result;
}

std::wstring HostPath(const char* linuxPath)
{
    std::wstring path = L"Z:" + Widen(linuxPath);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes)
{
    bytes->clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0)
        bytes->append(buffer, got);
    CloseHandle(file);
    return ok;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}

// ---- Processes ----

Process::~Process() { Kill(this); }

bool Start(const Launch& launch, Process* process, std::wstring* error)
{
    Kill(process);
    std::wstring commandLine = L"\"" + launch.program + L"\"";
    if (!launch.arguments.empty()) commandLine += L" " + launch.arguments;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    std::vector<wchar_t> environment = MakeEnvironment(launch.environment);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // Wine now and then fails to bring a new process up at all (its loader
    // dies before the program's first instruction) and reports that as an
    // internal error. Nothing of the program ran, so starting it again is
    // safe; any other failure is the test's to see.
    DWORD failure = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (CreateProcessW(launch.program.c_str(), line.data(), nullptr, nullptr, FALSE,
                           CREATE_UNICODE_ENVIRONMENT, environment.data(),
                           launch.currentDirectory.empty() ? nullptr
                                                           : launch.currentDirectory.c_str(),
                           &startup, &info)) {
            failure = ERROR_SUCCESS;
            break;
        }
        failure = GetLastError();
        if (failure != ERROR_INTERNAL_ERROR) break;
        fwprintf(stderr, L"%ls did not come up; starting it again\n", commandLine.c_str());
    }
    if (failure != ERROR_SUCCESS) {
        if (error) *error = L"cannot start " + commandLine + L": error " + std::to_wstring(failure);
        return false;
    }
    CloseHandle(info.hThread);
    process->handle = info.hProcess;
    process->id = info.dwProcessId;
    return true;
}

bool IsRunning(const Process& process)
{
    return process.handle && WaitForSingleObject(process.handle, 0) == WAIT_TIMEOUT;
}

bool WaitForExit(const Process& process, int timeoutMs, DWORD* exitCode)
{
    if (!process.handle) return false;
    if (WaitForSingleObject(process.handle, (DWORD)timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(process.handle, &code);
    if (exitCode) *exitCode = code;
    return true;
}

namespace {

// Answers the debug events of a process this one debugs, until it has
// ended or waitMs passes without an event.
void EndDebugging(Process* process, int waitMs)
{
    if (process->heldThread)
        ContinueDebugEvent(process->id, process->heldThread, DBG_CONTINUE);
    process->heldThread = 0;
    DEBUG_EVENT event;
    while (process->debugged && WaitForDebugEvent(&event, (DWORD)waitMs)) {
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile)
            CloseHandle(event.u.CreateProcessInfo.hFile);
        if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile)
            CloseHandle(event.u.LoadDll.hFile);
        process->debugged = event.dwDebugEventCode != EXIT_PROCESS_DEBUG_EVENT;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId,
                           event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT
                               ? DBG_EXCEPTION_NOT_HANDLED
                               : DBG_CONTINUE);
    }
    process->debugged = false;
}

}  // namespace

void Kill(Process* process)
{
    if (!process->handle) return;
    if (WaitForSingleObject(process->handle, 0) == WAIT_TIMEOUT) TerminateProcess(process->handle, 1);
    // A debugged process ends only once its debugger has seen it end.
    if (process->debugged) EndDebugging(process, 5000);
    WaitForSingleObject(process->handle, 5000);
    CloseHandle(process->handle);
    process->handle = nullptr;
    process->id = 0;
}

// ---- Holding a program at a call ----

namespace {

#ifdef _WIN64
DWORD64& ProgramCounter(CONTEXT& context) { return context.Rip; }
DWORD64 StackPointer(const CONTEXT& context) { return context.Rsp; }
#else
DWORD& ProgramCounter(CONTEXT& context) { return context.Eip; }
DWORD StackPointer(const CONTEXT& context) { return context.Esp; }
#endif
const DWORD TRAP_FLAG = 0x100;
const BYTE BREAKPOINT = 0xCC;

// The module of another process whose file is called name; null when none.
HMODULE RemoteModule(HANDLE process, const std::wstring& name)
{
    HMODULE modules[1024];
    DWORD needed = 0;
    if (!EnumProcessModulesEx(process, modules, sizeof modules, &needed, LIST_MODULES_ALL))
        return nullptr;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 1024; ++i) {
        wchar_t found[MAX_PATH] = L"";
        if (GetModuleBaseNameW(process, modules[i], found, MAX_PATH) && SameText(found, name))
            return modules[i];
    }
    return nullptr;
}

// Where the function starts in the other process: both load the system's
// DLLs from the same files, so it lies at the same offset in the same
// module there as here (the module where a forwarded export really is).
BYTE* RemoteFunction(HANDLE process, const Call& call)
{
    HMODULE imported = LoadLibraryW(call.module);
    FARPROC local = imported ? GetProcAddress(imported, call.function) : nullptr;
    HMODULE owner = nullptr;
    wchar_t name[MAX_PATH] = L"";
    if (!local ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCWSTR)local, &owner) ||
        !GetModuleBaseNameW(GetCurrentProcess(), owner, name, MAX_PATH))
        return nullptr;
    HMODULE remote = RemoteModule(process, name);
    return remote ? (BYTE*)remote + ((BYTE*)local - (BYTE*)owner) : nullptr;
}

bool WriteCode(HANDLE process, BYTE* at, BYTE value)
{
    SIZE_T written = 0;
    return WriteProcessMemory(process, at, &value, 1, &written) && written == 1 &&
           FlushInstructionCache(process, at, 1);
}

}  // namespace

bool HoldAtCall(Process* process, const Call& call, const std::function<void()>& start, int timeoutMs)
{
    if (!process->handle || process->debugged || !DebugActiveProcess(process->id)) return false;
    process->debugged = true;
    BYTE* image = nullptr;
    MODULEINFO program = {};
    BYTE* target = nullptr;
    BYTE original = 0;
    DWORD stepping = 0;
    int calls = 0;
    bool started = false;
    const DWORD began = GetTickCount();
    DEBUG_EVENT event;
    DWORD waited = 0;
    // The time waited read once a turn: read twice, it could pass the limit
    // between the test and the wait and leave a wait of some 49 days.
    while (process->debugged && (waited = GetTickCount() - began) < (DWORD)timeoutMs &&
           WaitForDebugEvent(&event, (DWORD)timeoutMs - waited)) {
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
            image = (BYTE*)event.u.CreateProcessInfo.lpBaseOfImage;
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            process->debugged = false;
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !target) {
                // The system's own breakpoint, once the attach is complete:
                // every module the program imports is in, so ours goes in.
                SIZE_T read = 0;
                target = RemoteFunction(process->handle, call);
                if (!target || !image ||
                    !GetModuleInformation(process->handle, (HMODULE)image, &program, sizeof program) ||
                    !ReadProcessMemory(process->handle, target, &original, 1, &read) ||
                    !WriteCode(process->handle, target, BREAKPOINT)) {
                    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
                    Kill(process);
                    return false;
                }
            } else if (record.ExceptionCode == EXCEPTION_BREAKPOINT && record.ExceptionAddress == target) {
                HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
                CONTEXT context = {};
                context.ContextFlags = CONTEXT_CONTROL;
                GetThreadContext(thread, &context);
                ProgramCounter(context) = (DWORD_PTR)target;
                // At a function's first instruction the stack's top is the
                // address the call returns to: it tells who called.
                BYTE* caller = nullptr;
                ReadProcessMemory(process->handle, (void*)(DWORD_PTR)StackPointer(context), &caller,
                                  sizeof caller, nullptr);
                const bool fromProgram =
                    caller >= image && caller < image + program.SizeOfImage;
                if (fromProgram && ++calls == call.nth) {
                    // The event stays unanswered: every thread of the
                    // process stays stopped until Kill.
                    SetThreadContext(thread, &context);
                    CloseHandle(thread);
                    process->heldThread = event.dwThreadId;
                    return true;
                }
                // On over this call: the first instruction run by itself,
                // then the breakpoint back in.
                WriteCode(process->handle, target, original);
                context.EFlags |= TRAP_FLAG;
                SetThreadContext(thread, &context);
                CloseHandle(thread);
                stepping = event.dwThreadId;
            } else if (record.ExceptionCode == EXCEPTION_SINGLE_STEP && stepping == event.dwThreadId) {
                WriteCode(process->handle, target, BREAKPOINT);
                stepping = 0;
            } else if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (target && !started) {
            started = true;
            if (start) start();
        }
    }
    Kill(process);
    return false;
}

// ---- Windows ----

namespace {

struct WindowSearch {
    DWORD processId;  // 0: every process
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data)
{
    WindowSearch* search = (WindowSearch*)data;
    if (!IsWindowVisible(window)) return TRUE;
    if (search->processId && WindowProcess(window) != search->processId) return TRUE;
    search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleWindows(DWORD processId)
{
    WindowSearch search = {processId, {}};
    EnumWindows(CollectWindow, (LPARAM)&search);
    return search.found;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD processId) { return VisibleWindows(processId); }

std::wstring WindowText(HWND window)
{
    // The text the system keeps for the window: no message goes to its
    // thread, so this answers even while that thread is busy.
    wchar_t text[1024] = L"";
    InternalGetWindowText(window, text, 1024);
    return text;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

DWORD WindowProcess(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if ((int)(GetTickCount() - start) >= timeoutMs) return false;
        Sleep(POLL_MS);
    }
}

HWND FindPage(DWORD processId, const std::wstring& caption)
{
    for (HWND window : VisibleWindows(processId))
        if (IsDialog(window) && IsUnowned(window) && WindowText(window) == caption)
            return window;
    return nullptr;
}

HWND WaitForPage(DWORD processId, const std::wstring& caption, int timeoutMs)
{
    HWND page = nullptr;
    WaitUntil([&] { return (page = FindPage(processId, caption)) != nullptr; }, timeoutMs);
    return page;
}

HWND CurrentPage(DWORD processId)
{
    for (HWND window : VisibleWindows(processId))
        if (IsDialog(window) && IsUnowned(window)) return window;
    return nullptr;
}

HWND WaitForWindow(DWORD processId, const std::wstring& caption, int timeoutMs)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : VisibleWindows(processId))
                if (WindowText(window) == caption) {
                    found = window;
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

bool WaitForGone(HWND window, int timeoutMs)
{
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

std::wstring ProcessImage(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return std::wstring();
    wchar_t path[MAX_PATH * 2] = L"";
    DWORD size = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(process, 0, path, &size)) path[0] = L'\0';
    CloseHandle(process);
    return path;
}

HWND WaitForProgramWindow(const std::wstring& imagePath, DWORD* processId, int timeoutMs)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : VisibleWindows(0)) {
                DWORD owner = WindowProcess(window);
                if (SameText(ProcessImage(owner), imagePath)) {
                    found = window;
                    if (processId) *processId = owner;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

void EndProgram(HWND window, DWORD processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (!process) return;
    if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
}

// ---- Controls ----

HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::wstring ControlText(HWND dialog, int id)
{
    HWND control = Control(dialog, id);
    if (!control) return std::wstring();
    // A control keeps its own text (an edit box's contents), so ask it. The
    // program may set the text between the two questions: a text that fills
    // the buffer is asked for again with more room.
    for (int attempt = 0; attempt < 8; ++attempt) {
        LRESULT length = 0;
        if (!SendNow(control, WM_GETTEXTLENGTH, 0, 0, &length)) return std::wstring();
        // The length may count the text in another code page: leave room.
        std::vector<wchar_t> buffer((size_t)length * 2 + 64, L'\0');
        if (!SendNow(control, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data(), nullptr))
            return std::wstring();
        std::wstring text(buffer.data());
        if (text.size() + 1 < buffer.size()) return text;
    }
    return std::wstring();
}

bool HasControl(HWND dialog, int id) { return Control(dialog, id) != nullptr; }

bool IsEnabled(HWND dialog, int id)
{
    HWND control = Control(dialog, id);
    return control && IsWindowEnabled(control);
}

LONG Style(HWND window) { return GetWindowLongW(window, GWL_STYLE); }

int CheckState(HWND dialog, int id)
{
    HWND control = Control(dialog, id);
    return control ? (int)SendValue(control, BM_GETCHECK) : -1;
}

LRESULT ButtonState(HWND dialog, int id)
{
    HWND control = Control(dialog, id);
    return control ? SendValue(control, BM_GETSTATE) : -1;
}

bool Click(HWND dialog, int id)
{
    // A user cannot press a button that is disabled or not shown.
    HWND button = Control(dialog, id);
    if (!button || !IsWindowEnabled(button) || !IsWindowVisible(button)) return false;
    return PostMessageW(button, BM_CLICK, 0, 0) != 0;
}

bool ClickNow(HWND dialog, int id)
{
    HWND button = Control(dialog, id);
    if (!button || !IsWindowEnabled(button) || !IsWindowVisible(button)) return false;
    return SendNow(button, BM_CLICK, 0, 0, nullptr);
}

bool SetControlText(HWND dialog, int id, const std::wstring& text)
{
    HWND control = Control(dialog, id);
    LRESULT done = 0;
    return control && SendNow(control, WM_SETTEXT, 0, (LPARAM)text.c_str(), &done) && done;
}

bool TypeText(HWND dialog, int id, const std::wstring& text)
{
    HWND control = Control(dialog, id);
    if (!control || !SendNow(control, EM_SETSEL, 0, -1, nullptr)) return false;
    // Typing over a selection replaces it; Backspace clears it when
    // nothing is typed.
    if (text.empty()) return SendNow(control, WM_CHAR, VK_BACK, 0, nullptr);
    for (wchar_t c : text)
        if (!SendNow(control, WM_CHAR, c, 1, nullptr)) return false;
    return true;
}

std::vector<std::wstring> ListItems(HWND dialog, int id)
{
    std::vector<std::wstring> items;
    HWND list = Control(dialog, id);
    if (!list) return items;
    LRESULT count = SendValue(list, LB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendValue(list, LB_GETTEXTLEN, i);
        if (length < 0) length = 0;
        // Sent across processes the item comes back as UTF-16 even to a
        // list box of an ANSI program; the length may count ANSI bytes.
        std::vector<wchar_t> buffer((size_t)length * 2 + 64, L'\0');
        SendNow(list, LB_GETTEXT, i, (LPARAM)buffer.data(), nullptr);
        items.push_back(buffer.data());
    }
    return items;
}

bool DoubleClickListItem(HWND dialog, int id, const std::wstring& item)
{
    HWND list = Control(dialog, id);
    if (!list) return false;
    std::vector<std::wstring> items = ListItems(dialog, id);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] != item) continue;
        if (SendValue(list, LB_SETCURSEL, i) == LB_ERR) return false;
        return SendNow(dialog, WM_COMMAND, MAKEWPARAM(id, LBN_DBLCLK), (LPARAM)list, nullptr);
    }
    return false;
}

bool Close(HWND window)
{
    // What the close box sends; the window's default handling turns it
    // into WM_CLOSE.
    return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) != 0;
}

// ---- Message boxes ----

namespace {

const int MESSAGE_TEXT_ID = 0xFFFF;
const int MESSAGE_ICON_ID = 0x0440;

BOOL CALLBACK CollectButton(HWND child, LPARAM data)
{
    MessageBoxInfo* info = (MessageBoxInfo*)data;
    if (ClassName(child) != L"Button" || !IsWindowVisible(child)) return TRUE;
    int id = GetDlgCtrlID(child);
    info->buttons.push_back(id);
    if ((Style(child) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) info->defaultButton = id;
    return TRUE;
}

}  // namespace

namespace {

BOOL CALLBACK FindAnswerButton(HWND child, LPARAM data)
{
    int id = GetDlgCtrlID(child);
    if (id >= IDOK && id <= IDCONTINUE && IsWindowVisible(child) &&
        ClassName(child) == L"Button") {
        *(bool*)data = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindMessageBox(DWORD processId)
{
    // A message box is a dialog with the text control and answer buttons
    // (IDOK ... IDCONTINUE); the pages have neither. A box may have no
    // owner window, so ownership alone does not tell it from a page.
    for (HWND window : VisibleWindows(processId)) {
        if (!IsDialog(window) || !GetDlgItem(window, MESSAGE_TEXT_ID)) continue;
        bool hasAnswer = false;
        EnumChildWindows(window, FindAnswerButton, (LPARAM)&hasAnswer);
        if (hasAnswer) return window;
    }
    return nullptr;
}

bool ReadMessageBox(HWND box, MessageBoxInfo* info)
{
    *info = MessageBoxInfo();
    if (!box || !IsWindow(box)) return false;
    info->window = box;
    info->owner = GetWindow(box, GW_OWNER);
    info->caption = WindowText(box);
    info->text = ControlText(box, MESSAGE_TEXT_ID);
    EnumChildWindows(box, CollectButton, (LPARAM)info);
    HWND icon = GetDlgItem(box, MESSAGE_ICON_ID);
    info->hasIcon = icon && IsWindowVisible(icon) && SendValue(icon, STM_GETICON) != 0;
    // A box is whole once it shows its answers and its default one.
    return !info->buttons.empty() && info->defaultButton != 0;
}

bool ReadWholeMessageBox(HWND box, MessageBoxInfo* info)
{
    return WaitUntil([&] { return ReadMessageBox(box, info) || !IsWindow(box); }) &&
           IsWindow(box);
}

bool WaitForMessageBox(DWORD processId, MessageBoxInfo* info, int timeoutMs)
{
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = FindMessageBox(processId)) != nullptr; }, timeoutMs)) {
        *info = MessageBoxInfo();
        return false;
    }
    return ReadWholeMessageBox(box, info);
}

bool NoMessageBoxFor(DWORD processId, int timeoutMs)
{
    return !WaitUntil([&] { return FindMessageBox(processId) != nullptr; }, timeoutMs);
}

bool Answer(HWND box, int buttonId, int timeoutMs)
{
    return Click(box, buttonId) && WaitForGone(box, timeoutMs);
}

}  // namespace ui
