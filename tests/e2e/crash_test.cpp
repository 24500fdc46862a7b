// A setup or an uninstaller ended at any instant, as a crash, a power cut or
// Task Manager ends it, leaves nothing that cannot be taken back.
//
// For each step after the files (the group folder, each group shortcut, the
// uninstall key, a rewrite of setup.log, the Startup and Desktop shortcuts
// and each key of the file type) a watcher in this process ends the setup
// the moment that item appears. The uninstaller, run from the uninstall
// entry or, before there is one, from the installation folder, must then
// leave the machine as it was before the setup. An uninstaller ended
// part-way must finish the job when run again from the entry.
#include "wizard_support.h"

#include <tlhelp32.h>

#include <functional>

using namespace wiz;

namespace {

const wchar_t FILE_CLASS[] = L"VarazAzadEvuz";

// What an installation leaves outside its folder, and the folder itself.
struct Places {
    std::wstring folder = TestRoot() + L"\\" + UniqueName(L"crash");
    std::wstring group = UniqueName(L"Crash");
    std::wstring groupFolder = SpecialFolder(CSIDL_PROGRAMS) + L"\\" + group;
    std::wstring startupLink = SpecialFolder(CSIDL_STARTUP) + L"\\Murmelist.lnk";
    std::wstring desktopLink = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Murmelist.lnk";

    // Everything that tells an installation, by name; empty when none.
    std::vector<std::wstring> Present() const
    {
        std::vector<std::wstring> present;
        for (const std::wstring& path : {folder, groupFolder, startupLink, desktopLink})
            if (Exists(path)) present.push_back(path);
        for (const std::wstring& key : {std::wstring(UNINSTALL_ENTRY)})
            if (RegistryKeyExists(HKEY_LOCAL_MACHINE, key)) present.push_back(L"HKLM\\" + key);
        for (const std::wstring& key : {std::wstring(L".vdb"), std::wstring(FILE_CLASS)})
            if (RegistryKeyExists(HKEY_CLASSES_ROOT, key)) present.push_back(L"HKCR\\" + key);
        return present;
    }
    void Clear() const
    {
        RemoveTree(folder);
        RemoveTree(groupFolder);
        DeleteFileW(startupLink.c_str());
        DeleteFileW(desktopLink.c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L".vdb");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, FILE_CLASS);
    }
};

std::string Listed(const std::vector<std::wstring>& items)
{
    std::string text;
    for (const std::wstring& item : items) text += "\n  " + ui::Narrow(item);
    return text.empty() ? " nothing" : text;
}

// The item whose appearance marks the moment the setup is ended at, and
// whether it is made when the finish page closes.
struct Moment {
    const char* name;
    bool onFinish;
    std::function<bool(const Places&)> appeared;
};

bool HasKey(HKEY root, const std::wstring& key) { return RegistryKeyExists(root, key); }

std::vector<Moment> Moments()
{
    const std::wstring classKey = FILE_CLASS;
    return {
        {"the group folder", false, [](const Places& p) { return Exists(p.groupFolder); }},
        {"the first group shortcut", false,
         [](const Places& p) { return Exists(p.groupFolder + L"\\Murmelist.lnk"); }},
        {"the second group shortcut", false,
         [](const Places& p) { return Exists(p.groupFolder + L"\\Удалить Murmelist.lnk"); }},
        {"the uninstall key", false,
         [](const Places&) { return HasKey(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY); }},
        // The log's copy stands beside it only while a change is written;
        // once the uninstaller is whole, every file is there.
        {"a rewrite of the log", false,
         [](const Places& p) {
             return Exists(p.folder + L"\\setup.tmp") &&
                    FileSize(p.folder + L"\\uninst.exe") == (long long)PackageFile(L"uninst.exe").size();
         }},
        {"the Startup shortcut", true, [](const Places& p) { return Exists(p.startupLink); }},
        {"the Desktop shortcut", true, [](const Places& p) { return Exists(p.desktopLink); }},
        {"the file type's class key", true, [=](const Places&) { return HasKey(HKEY_CLASSES_ROOT, classKey); }},
        {"its icon key", true,
         [=](const Places&) { return HasKey(HKEY_CLASSES_ROOT, classKey + L"\\DefaultIcon"); }},
        {"its shell key", true,
         [=](const Places&) { return HasKey(HKEY_CLASSES_ROOT, classKey + L"\\shell"); }},
        {"its open key", true,
         [=](const Places&) { return HasKey(HKEY_CLASSES_ROOT, classKey + L"\\shell\\open"); }},
        {"its command key", true,
         [=](const Places&) { return HasKey(HKEY_CLASSES_ROOT, classKey + L"\\shell\\open\\command"); }},
        {"the .vdb key", true, [](const Places&) { return HasKey(HKEY_CLASSES_ROOT, L".vdb"); }},
    };
}

// Watches for the moment, as fast as it can look, and ends the process the
// moment it comes. The file type's keys follow each other within
// microseconds, so the end may land a few steps later, or after the
// process has finished by itself; either way what it leaves must be taken
// back. False when the process ended without the item.
bool EndAt(const ui::Process& process, const Moment& moment, const Places& places)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < (DWORD)INSTALL_MS) {
        const bool running = ui::IsRunning(process);
        if (moment.appeared(places)) {
            TerminateProcess(process.handle, 9);
            WaitForSingleObject(process.handle, ui::WAIT_MS);
            return true;
        }
        if (!running) return false;
    }
    return false;
}

// The folder of the uninstaller the uninstall entry names; empty without
// an entry.
std::wstring EntryFolder()
{
    std::wstring command = RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"UninstallString");
    if (command.size() > 2 && command.front() == L'"') command = command.substr(1, command.size() - 2);
    return command.substr(0, command.rfind(L'\\'));
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
        Places places;
        places.Clear();
        ASSERT_EQ(places.Present(), std::vector<std::wstring>()) << "not as before at the start";
        {
            ui::Process setup;
            HWND page = InstallToFinish(setup, places, moment.onFinish);
            ASSERT_TRUE(page);
            ASSERT_TRUE(ui::Click(page, IDC_NEXT));
            ASSERT_TRUE(EndAt(setup, moment, places)) << "the moment never came";
        }
        std::wstring report = Uninstall(places);
        EXPECT_EQ(report, L"");
        EXPECT_EQ(places.Present(), std::vector<std::wstring>())
            << "left after the uninstaller:" << Listed(places.Present());
        places.Clear();
    }
}

namespace {

// The uninstaller's working copy in the temporary folder, once it runs.
DWORD FindUninstallerCopy()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        if (wcsncmp(entry.szExeFile, L"murm-uninst-", 12) == 0) found = entry.th32ProcessID;
    CloseHandle(snapshot);
    return found;
}

}  // namespace

// The uninstaller ended once it has removed the first file: the entry and
// the uninstaller it names are still there, and run again it finishes.
TEST(Crash, AnUninstallerEndedPartWayFinishesWhenRunAgain)
{
    Places places;
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
    ui::Launch launch;
    launch.program = places.folder + L"\\uninst.exe";
    launch.arguments = L"/quiet";
    launch.currentDirectory = L"C:\\";
    ui::Process original;
    ASSERT_TRUE(ui::Start(launch, &original));
    const std::wstring first = places.folder + L"\\MurmList.exe";
    HANDLE copy = nullptr;
    ASSERT_TRUE(ui::WaitUntil(
        [&] {
            if (!copy) {
                DWORD id = FindUninstallerCopy();
                if (id) copy = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
            }
            if (!copy || Exists(first)) return false;
            TerminateProcess(copy, 9);
            return true;
        },
        30000))
        << "the uninstaller never removed the first file";
    WaitForSingleObject(copy, ui::WAIT_MS);
    CloseHandle(copy);
    ASSERT_FALSE(places.Present().empty()) << "it ended after its whole work";
    EXPECT_FALSE(EntryFolder().empty()) << "the entry went before what it describes";
    EXPECT_TRUE(Exists(places.folder + L"\\uninst.exe")) << "the uninstaller went before the rest";

    EXPECT_EQ(Uninstall(places), L"");
    EXPECT_EQ(places.Present(), std::vector<std::wstring>())
        << "left after the second run:" << Listed(places.Present());
    places.Clear();
}
