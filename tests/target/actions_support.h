// Helpers shared by the tests of the installation actions: scratch folders,
// hand-built archives, reading files and setup.log back, a window that
// records the progress it is told about, and a second thread that answers
// the program's message boxes.
#ifndef ACTIONS_SUPPORT_H
#define ACTIONS_SUPPORT_H

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/package.h"
#include "core/setup.h"

// ---- files and folders ----------------------------------------------------

inline std::optional<std::string> ReadWholeFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::string bytes(GetFileSize(file, 0), '\0');
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file, &bytes[0], (DWORD)bytes.size(), &read, 0);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, 0);
        CloseHandle(file);
    }
}

inline bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The names in a folder, without "." and "..".
inline std::vector<std::string> ListFolder(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

inline void RemoveTree(const std::string& path)
{
    if (IsFolder(path)) {
        for (const std::string& name : ListFolder(path))
            RemoveTree(path + "\\" + name);
        RemoveDirectoryA(path.c_str());
    } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
}

// A new empty folder under the temporary folder, unique to this process.
inline std::string MakeScratchFolder(const char* tag)
{
    static int serial = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + tag + "-" + std::to_string(GetCurrentProcessId()) +
                         "-" + std::to_string(++serial);
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), 0);
    return folder;
}

// ---- setup.log --------------------------------------------------------------

// The log's lines in file order, blank lines left out, so that a test can
// compare sections, keys and their order in one go.
inline std::vector<std::string> ReadLogLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::string text = ReadWholeFile(path).value_or("");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The lines of one section, without its header.
inline std::vector<std::string> LogSection(const std::vector<std::string>& lines,
                                           const std::string& section)
{
    std::vector<std::string> result;
    bool inside = false;
    for (const std::string& line : lines) {
        if (!line.empty() && line[0] == '[') {
            inside = lstrcmpiA(line.c_str(), ("[" + section + "]").c_str()) == 0;
            continue;
        }
        if (inside)
            result.push_back(line);
    }
    return result;
}

// ---- archives ----------------------------------------------------------------

struct TestEntry {
    std::string name;
    std::string bytes;
};

// A PayloadArchive as the package builder lays it out; count overrides the
// header's count when given.
inline std::vector<unsigned char> BuildArchive(const std::vector<TestEntry>& entries,
                                               std::optional<uint32_t> count = std::nullopt)
{
    std::vector<unsigned char> archive(ARCHIVE_HEADER_SIZE);
    uint32_t total = 0;
    for (const TestEntry& entry : entries) {
        size_t at = archive.size();
        archive.resize(at + ENTRY_HEADER_SIZE + entry.bytes.size());
        std::copy(entry.name.begin(), entry.name.end(), archive.begin() + at);
        WriteUint32(&archive[at + ENTRY_NAME_SIZE], (uint32_t)entry.bytes.size());
        std::copy(entry.bytes.begin(), entry.bytes.end(), archive.begin() + at + ENTRY_HEADER_SIZE);
        total += (uint32_t)entry.bytes.size();
    }
    WriteUint32(&archive[0], total);
    WriteUint32(&archive[4], count.value_or((uint32_t)entries.size()));
    return archive;
}

// ---- the progress window -------------------------------------------------------

// Every value of g_setup.progress that the window was told about, in order.
inline std::vector<uint32_t>& ReceivedProgress()
{
    static std::vector<uint32_t> values;
    return values;
}

inline LRESULT CALLBACK ProgressRecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == MSG_UPDATE_PROGRESS) {
        ReceivedProgress().push_back(g_setup.progress);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A hidden top-level window standing in for the copying page.
inline HWND MakeProgressWindow()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ProgressRecorderProc;
        windowClass.hInstance = GetModuleHandleA(0);
        windowClass.lpszClassName = "ProgressRecorder";
        RegisterClassA(&windowClass);
        registered = true;
    }
    ReceivedProgress().clear();
    return CreateWindowExA(0, "ProgressRecorder", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, 0, 0,
                           GetModuleHandleA(0), 0);
}

// ---- message boxes -----------------------------------------------------------------

inline std::wstring Wide(const std::string& text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, 0, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    return wide;
}

struct SeenBox {
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // the ids of its buttons, ascending
    int answer;
};

// Answers the message boxes of this process from a second thread, one after
// the other, with the given button ids in order. A box beyond the script is
// answered Cancel or No so that a test can fail instead of hanging. before
// runs on the answering thread just before each click, with the box's index.
class BoxAnswerer {
public:
    explicit BoxAnswerer(std::vector<int> answers,
                         std::function<void(size_t)> before = nullptr)
        : answers_(std::move(answers)), before_(std::move(before)),
          worker_([this] { Run(); })
    {
    }
    ~BoxAnswerer()
    {
        stop_ = true;
        worker_.join();
    }
    std::vector<SeenBox> Seen()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    static BOOL CALLBACK FindBox(HWND window, LPARAM found)
    {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        char className[16] = "";
        GetClassNameA(window, className, sizeof className);
        if (process == GetCurrentProcessId() && lstrcmpA(className, "#32770") == 0) {
            *(HWND*)found = window;
            return FALSE;
        }
        return TRUE;
    }

    void Run()
    {
        HWND last = 0;
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (last && IsWindow(last))
                continue;  // the box answered last has not closed yet
            HWND box = 0;
            EnumWindows(FindBox, (LPARAM)&box);
            if (!box)
                continue;
            SeenBox seen;
            wchar_t text[2048] = L"";
            GetWindowTextW(box, text, 2048);
            seen.caption = text;
            text[0] = 0;
            GetDlgItemTextW(box, 0xFFFF, text, 2048);
            seen.text = text;
            for (int id = IDOK; id <= IDNO; ++id)
                if (GetDlgItem(box, id))
                    seen.buttons.push_back(id);
            size_t index = seen_.size();
            if (index < answers_.size())
                seen.answer = answers_[index];
            else
                seen.answer = GetDlgItem(box, IDCANCEL) ? IDCANCEL : IDNO;
            if (before_)
                before_(index);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(seen);
            }
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(seen.answer, BN_CLICKED),
                         (LPARAM)GetDlgItem(box, seen.answer));
            last = box;
        }
    }

    std::vector<int> answers_;
    std::function<void(size_t)> before_;
    std::vector<SeenBox> seen_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

#endif
