// A setup or an uninstaller ended at any instant, as a crash, a power cut or
// Task Manager ends it, leaves nothing that cannot be taken back.
//
// For each step after the files (the group folder, each group shortcut, the
// uninstall key and its values, a rewrite of setup.log, the Startup and
// Desktop shortcuts, each key and value of the file type) the setup is held
// as its debugger holds it, at the very call that makes the item, and ended
// there. The uninstaller, run from the uninstall entry or, before there is
// one, from the installation folder, must then leave the machine as it was
// before the setup. An uninstaller ended part-way must finish the job when
// run again from the entry.
#include "wizard_support.h"

#include <tlhelp32.h>

#include <functional>

using namespace wiz;

namespace {

// The call the setup is held and ended at, and whether it comes once the
// finish page closes (all but the product's start ticked).
struct Moment {
    const char* name;
    bool onFinish;
    ui::Call call;
};

std::vector<Moment> Moments()
{
    const wchar_t* kernel = L"kernel32.dll";
    const wchar_t* ole = L"ole32.dll";
    const wchar_t* registry = L"advapi32.dll";
    // Each shortcut is saved by a call of its own that starts with
    // OleInitialize; each registry key is created by a call of its own.
    return {
        {"the group folder", false, {kernel, "CreateDirectoryA", 1}},
        {"the first group shortcut", false, {ole, "OleInitialize", 1}},
        {"the second group shortcut", false, {ole, "OleInitialize", 2}},
        {"the uninstall key", false, {registry, "RegCreateKeyExA", 1}},
        {"the uninstall key's first value", false, {registry, "RegSetValueExA", 1}},
        {"the uninstall key's second value", false, {registry, "RegSetValueExA", 2}},
        // The log's change stands written in setup.tmp beside it. The
        // eleventh change is the first after the files ([Links] n): before
        // the uninstaller is there, nothing could be taken back.
        {"a rewrite of the log", false, {kernel, "MoveFileExA", 11}},
        {"the Startup shortcut", true, {ole, "OleInitialize", 1}},
        {"the Desktop shortcut", true, {ole, "OleInitialize", 2}},
        {"the file type's class key", true, {registry, "RegCreateKeyExA", 1}},
        {"its icon key", true, {registry, "RegCreateKeyExA", 2}},
        {"its shell key", true, {registry, "RegCreateKeyExA", 3}},
        {"its open key", true, {registry, "RegCreateKeyExA", 4}},
        {"its command key", true, {registry, "RegCreateKeyExA", 5}},
        {"the .vdb key", true, {registry, "RegCreateKeyExA", 6}},
        {"the .vdb key's value", true, {registry, "RegSetValueExA", 3}},
        {"a rewrite of the log on the finish page", true, {kernel, "MoveFileExA", 1}},
    };
}

// Runs the uninstaller from the entry or, without one, from the folder;
// returns its report of what it left.
std::wstring Uninstall(const Places& places)
{
    std::wstring folder = EntryFolder();
    if (folder.empty()) folder = places.folder;
    else EXPECT_TRUE(SamePath(folder, places.folder)) << ui::Narrow(folder);
    std::wstring report;
    EXPECT_TRUE(RunUninstaller(folder, TestRoot() + L"\\" + UniqueName(L"report") + L".txt", &report))
        << "the uninstaller did not finish";
    return report;
}

// From the start to the finish page, every option but the product's start
// ticked; null when the finish page did not come.
HWND InstallToFinish(ui::Process& setup, const Places& places, bool clickNext)
{
    HWND group = WalkToGroup(setup, WalkToDestination(setup, StartSetup(&setup)), places.folder);
    if (!group || !ui::SetControlText(group, IDC_GROUP_NAME, places.group)) return nullptr;
    if (!clickNext) return group;
    HWND finish = RunCopying(setup, group, AlwaysYes, nullptr);
    for (int option : {IDC_STARTUP_LINK, IDC_DESKTOP_LINK, IDC_ASSOCIATE})
        EXPECT_TRUE(finish && ui::ClickNow(finish, option));
    return finish;
}

}  // namespace

TEST(Crash, ASetupEndedAtAnyStepIsTakenBackByItsUninstaller)
{
    for (const Moment& moment : Moments()) {
        SCOPED_TRACE(std::string("ended at ") + moment.name);
        Places places(L"crash");
        places.Clear();
        ASSERT_EQ(places.Present(), std::vector<std::wstring>()) << "not as before at the start";
        {
            ui::Process setup;
            HWND page = InstallToFinish(setup, places, moment.onFinish);
            ASSERT_TRUE(page);
            ASSERT_TRUE(ui::HoldAtCall(&setup, moment.call, [&] { ui::Click(page, IDC_NEXT); },
                                       INSTALL_MS))
                << "the setup never made that call";
        }
        std::wstring report = Uninstall(places);
        EXPECT_EQ(report, L"");
        EXPECT_EQ(places.Present(), std::vector<std::wstring>())
            << "left after the uninstaller:" << Listed(places.Present());
        places.Clear();
    }
}

// Ended on the finish page: all that the copying page makes is there.
TEST(Crash, ASetupEndedOnItsFinishPageIsTakenBackByItsUninstaller)
{
    Places places(L"crash");
    places.Clear();
    {
        ui::Process setup;
        ASSERT_TRUE(InstallToFinish(setup, places, true));
    }
    EXPECT_EQ(Uninstall(places), L"");
    EXPECT_EQ(places.Present(), std::vector<std::wstring>())
        << "left after the uninstaller:" << Listed(places.Present());
    places.Clear();
}

namespace {

// The uninstaller's working copy, started by the original with that process
// id from a private folder of the temporary folder whose name carries the
// id; 0 until it runs.
DWORD FindUninstallerCopy(DWORD original)
{
    const std::wstring stem = L"\\murm-uninst-" + std::to_wstring(original) + L"-";
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        if (ui::ProcessImage(entry.th32ProcessID).find(stem) != std::wstring::npos) found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

}  // namespace

// The uninstaller ended once it has removed the first file: the second is
// held open, so it stops at its question about that file and is ended
// there. The entry and the uninstaller it names are still there, and run
// again it finishes.
TEST(Crash, AnUninstallerEndedPartWayFinishesWhenRunAgain)
{
    Places places(L"crash");
    places.Clear();
    {
        ui::Process setup;
        HWND finish = InstallToFinish(setup, places, true);
        ASSERT_TRUE(finish);
        ASSERT_TRUE(ui::Click(finish, IDC_NEXT));
        DWORD code = 1;
        ASSERT_TRUE(ui::WaitForExit(setup, ui::WAIT_MS, &code));
        ASSERT_EQ(code, 0u);
    }
    const std::wstring second = places.folder + L"\\" + PayloadNames()[1];
    HANDLE held = CreateFileW(second.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    {
        ui::Launch launch;
        launch.program = places.folder + L"\\uninst.exe";
        launch.currentDirectory = L"C:\\";
        ui::Process original, copy;
        ASSERT_TRUE(ui::Start(launch, &original));
        ui::MessageBoxInfo box;
        ASSERT_TRUE(ui::WaitForMessageBox(original.id, &box)) << "no question before the removal";
        ASSERT_TRUE(ui::Answer(box.window, IDYES));
        ASSERT_TRUE(ui::WaitUntil([&] { return (copy.id = FindUninstallerCopy(original.id)) != 0; }))
            << "the uninstaller's copy never ran";
        copy.handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, copy.id);
        ASSERT_TRUE(copy.handle) << "the uninstaller's copy could not be opened to be ended";
        ASSERT_TRUE(ui::WaitForMessageBox(copy.id, &box)) << "no question about the file held open";
        EXPECT_NE(box.text.find(second), std::wstring::npos) << ui::Narrow(box.text);
    }
    CloseHandle(held);
    EXPECT_FALSE(Exists(places.folder + L"\\" + PayloadNames()[0])) << "the first file stayed";
    EXPECT_FALSE(EntryFolder().empty()) << "the entry went before what it describes";
    EXPECT_TRUE(Exists(places.folder + L"\\uninst.exe")) << "the uninstaller went before the rest";

    EXPECT_EQ(Uninstall(places), L"");
    EXPECT_EQ(places.Present(), std::vector<std::wstring>())
        << "left after the second run:" << Listed(places.Present());
    places.Clear();
}
