// The check of the setup's own file: the real setup.exe passes and shows
// nothing while it is checked; and a read slow enough to take more than a
// second shows a small window with the check's progress for as long as it
// lasts. The slow read is setup.exe's bytes served through a pipe, a few at
// a time until the window has been seen: while the check waits for more,
// its window stays, so it cannot be missed however busy the machine.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/setup.h"

namespace {

const wchar_t CHECKING[] = L"Проверка файла программы установки... ";

// The build hands us a Linux path; Wine sees the Linux root as drive Z:.
std::string SetupPath()
{
    std::string path = "Z:" SETUP_EXE;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

struct Seen {
    std::vector<std::wstring> texts;
    HWND window = nullptr;
    RECT place = {};
};

BOOL CALLBACK FindCheckWindow(HWND window, LPARAM data)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t text[256] = L"";
    // The text the system keeps: GetWindowText would send the window's
    // thread, busy in the check (or waiting for this one), a message.
    InternalGetWindowText(window, text, 256);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        std::wstring(text).compare(0, wcslen(CHECKING), CHECKING) == 0) {
        Seen* seen = (Seen*)data;
        seen->window = window;
        GetWindowRect(window, &seen->place);
        if (seen->texts.empty() || seen->texts.back() != text)
            seen->texts.push_back(text);
        return FALSE;
    }
    return TRUE;
}

// Watches, from a second thread, for the check's window while the check
// runs on this one.
class Watcher {
public:
    Watcher() : thread_([this] {
            while (!stop_) {
                EnumWindows(FindCheckWindow, (LPARAM)&seen_);
                sighted_ = seen_.window != nullptr;
                Sleep(20);
            }
        })
    {
    }
    bool Sighted() const { return sighted_; }
    Seen Stop()
    {
        stop_ = true;
        thread_.join();
        return seen_;
    }

private:
    Seen seen_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> sighted_{false};
    std::thread thread_;
};

TEST(OwnFileCheck, TheSetupPassesAndAQuickCheckShowsNothing)
{
    Watcher watcher;
    const std::string path = SetupPath();
    const DWORD started = GetTickCount();
    EXPECT_TRUE(VerifyImageFile(std::wstring(path.begin(), path.end()).c_str()));
    const DWORD took = GetTickCount() - started;
    Seen seen = watcher.Stop();
    // A machine too busy to read the file within the time may show the
    // window, as it should; only a quick check must show none.
    if (took < CHECK_WINDOW_AFTER_MS) {
        EXPECT_TRUE(seen.texts.empty()) << "a window for a check that took " << took << " ms";
    }
}

TEST(OwnFileCheck, ASlowReadShowsItsProgressUntilItEnds)
{
    std::ifstream file(SetupPath(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::wstring name =
        L"\\\\.\\pipe\\murm-selfcheck-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_GT(bytes.size(), 16384u);
    HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                   65536, 65536, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    Watcher watcher;
    // The headers first, then small pieces every 50 ms until the window has
    // been seen, then the rest.
    std::thread server([&] {
        ConnectNamedPipe(pipe, nullptr);
        const size_t first = 8192, piece = 256;
        DWORD written = 0;
        WriteFile(pipe, bytes.data(), (DWORD)first, &written, nullptr);
        size_t at = first;
        for (; at + piece < bytes.size() && !watcher.Sighted(); at += piece) {
            Sleep(50);
            WriteFile(pipe, bytes.data() + at, (DWORD)piece, &written, nullptr);
        }
        WriteFile(pipe, bytes.data() + at, (DWORD)(bytes.size() - at), &written, nullptr);
        FlushFileBuffers(pipe);
        DisconnectNamedPipe(pipe);
    });
    const DWORD started = GetTickCount();
    // A pipe has no size to be measured against, so the check cannot pass;
    // what counts here is what it shows while it reads.
    VerifyImageFile(name.c_str());
    const DWORD took = GetTickCount() - started;
    Seen seen = watcher.Stop();
    server.join();
    CloseHandle(pipe);

    EXPECT_GE(took, CHECK_WINDOW_AFTER_MS) << "the read was not slow";
    ASSERT_FALSE(seen.texts.empty()) << "nothing showed during a check of " << took << " ms";
    for (const std::wstring& text : seen.texts)
        EXPECT_EQ(text.back(), L'%');
    const RECT& place = seen.place;
    EXPECT_TRUE(place.left >= 0 && place.top >= 0 && place.left < place.right &&
                place.top < place.bottom && place.right <= GetSystemMetrics(SM_CXSCREEN) &&
                place.bottom <= GetSystemMetrics(SM_CYSCREEN))
        << "the window lies off the screen";
    EXPECT_FALSE(IsWindow(seen.window)) << "the window stayed after the check";
}

}  // namespace
