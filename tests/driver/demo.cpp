// Walks the whole wizard by itself, for a demonstration recorded on a
// screen without a user: every page, the exit question and the overwrite
// question are shown in turn, and each time the program stops until the
// screenshot has been taken.
//
//   demo.exe SETUP_EXE SIGNAL_FOLDER
//
// Paths may be Linux paths (they are read through Wine's Z: drive). For
// each picture the program creates SIGNAL_FOLDER/NAME.ready and waits until
// the recorder deletes it; at the end it writes SIGNAL_FOLDER/done holding
// "ok" or what went wrong. No wait lasts forever: a recorder that does not
// answer only makes the walk go on without its picture.
#include <stdio.h>

#include <string>

#include "../../resources/ids.h"
#include "uidriver.h"

namespace {

const int SHOT_WAIT_MS = 30000;
const int INSTALL_MS = 60000;

std::wstring g_signals;

std::wstring WindowsPath(const char* path)
{
    return path[0] == '/' ? ui::HostPath(path) : ui::Widen(path);
}

void Say(const std::string& line)
{
    printf("demo: %s\n", line.c_str());
    fflush(stdout);
}

// Asks the recorder for a picture of the screen as it is now.
void Shot(const char* name)
{
    std::wstring ready = g_signals + L"\\" + ui::Widen(name) + L".ready";
    ui::WriteFileBytes(ready, name);
    if (!ui::WaitUntil([&] { return GetFileAttributesW(ready.c_str()) == INVALID_FILE_ATTRIBUTES; },
                       SHOT_WAIT_MS)) {
        Say(std::string("no picture taken of ") + name);
        DeleteFileW(ready.c_str());
    }
}

int Finish(const std::string& outcome)
{
    Say(outcome);
    ui::WriteFileBytes(g_signals + L"\\done", outcome);
    return outcome == "ok" ? 0 : 1;
}

HWND Page(const ui::Process& setup, const wchar_t* caption, int timeoutMs = ui::WAIT_MS)
{
    HWND page = ui::WaitForPage(setup.id, caption, timeoutMs);
    // Let the page paint itself before it is recorded.
    if (page) Sleep(300);
    return page;
}

bool Next(HWND page) { return ui::Click(page, IDC_NEXT); }

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: demo SETUP_EXE SIGNAL_FOLDER\n");
        return 2;
    }
    g_signals = WindowsPath(argv[2]);

    ui::Launch launch;
    launch.program = WindowsPath(argv[1]);
    ui::Process setup;
    std::wstring error;
    if (!ui::Start(launch, &setup, &error)) return Finish(ui::Narrow(error));

    HWND page = Page(setup, L"Добро пожаловать");
    if (!page) return Finish("the welcome page did not appear");
    Shot("01-welcome");

    ui::MessageBoxInfo box;
    ui::Click(page, IDC_CANCEL);
    if (!ui::WaitForMessageBox(setup.id, &box)) return Finish("no exit question");
    Sleep(200);
    Shot("02-exit-question");
    ui::Answer(box.window, IDNO);

    Next(page);
    page = Page(setup, L"Лицензионное соглашение");
    if (!page) return Finish("the agreement page did not appear");
    ui::WaitUntil([&] { return !ui::ControlText(page, IDC_AGREEMENT_TEXT).empty(); }, 5000);
    ui::ClickNow(page, IDC_ACCEPT);
    Shot("03-agreement");

    Next(page);
    page = Page(setup, L"Выбор каталога для установки");
    if (!page) return Finish("the destination page did not appear");
    Shot("04-destination");

    // One file of the product already there makes the copy ask before it
    // replaces it. The last file of the package is asked about last, when
    // the progress bar has nearly filled.
    std::wstring folder = ui::ControlText(page, IDC_DEST_DIR);
    if (folder.empty()) return Finish("the destination page offers no folder");
    CreateDirectoryW(folder.c_str(), nullptr);
    ui::WriteFileBytes(folder + L"\\uninst.exe", "an older uninstaller");

    Next(page);
    page = Page(setup, L"Выбор группы программ");
    if (!page) return Finish("the program group page did not appear");
    Shot("05-group");

    Next(page);
    if (ui::WaitForMessageBox(setup.id, &box, INSTALL_MS)) {
        Sleep(300);
        Shot("06-overwrite-question");
        // The copying page behind the question, with the question moved
        // off the screen; it answers all the same.
        SetWindowPos(box.window, nullptr, -3000, -3000, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Sleep(500);
        Shot("07-copying");
        ui::Answer(box.window, IDYES);
    } else {
        Say("no overwrite question");
    }

    page = Page(setup, L"Завершение установки", INSTALL_MS);
    if (!page) return Finish("the finish page did not appear");
    for (int option : {IDC_DESKTOP_LINK, IDC_STARTUP_LINK, IDC_RUN_PROGRAM, IDC_ASSOCIATE})
        ui::ClickNow(page, option);
    Shot("08-finish");

    Next(page);
    DWORD code = 1;
    if (!ui::WaitForExit(setup, ui::WAIT_MS, &code)) return Finish("setup did not end");
    if (code != 0) return Finish("setup ended with " + std::to_string(code));

    DWORD product = 0;
    HWND window = ui::WaitForProgramWindow(folder + L"\\murmlist.exe", &product, 10000);
    if (window) {
        Sleep(500);
        Shot("09-product");
        ui::EndProgram(window, product);
    } else {
        Say("the product did not start");
    }
    return Finish("ok");
}
