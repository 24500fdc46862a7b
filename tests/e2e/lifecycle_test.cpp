// What a product's life brings after one installation: the product
// installed again in another folder, a later package over the first, and an
// installation made before the restart that an uninstaller left work to.
// Each installation left must stay whole (its files, an entry naming its
// uninstaller, shortcuts into its folder, its file type), and once every
// uninstaller left has run, the machine is as it was.
#include "wizard_support.h"

#include <algorithm>

using namespace wiz;

namespace {

// Every option of the finish page but the product's start.
const std::vector<int> OPTIONS = {IDC_STARTUP_LINK, IDC_DESKTOP_LINK, IDC_ASSOCIATE};

// The whole wizard, Yes to every question, every option ticked.
void InstallAll(const Places& places, const std::wstring& program = SetupExe())
{
    ui::Process setup;
    HWND finish = Install(setup, StartSetup(&setup, {}, L"", program), places.folder, places.group);
    ASSERT_TRUE(finish);
    CloseFinish(setup, finish, OPTIONS, false);
}

// True when path (quoted or not) names something right in folder.
bool LeadsInto(std::wstring path, const std::wstring& folder)
{
    if (!path.empty() && path.front() == L'"') path = path.substr(1, path.find(L'"', 1) - 1);
    size_t end = path.rfind(L'\\');
    return end != std::wstring::npos && SamePath(path.substr(0, end), folder);
}

void ExpectWhole(const Places& places, const std::vector<std::wstring>& files)
{
    for (const std::wstring& name : files)
        EXPECT_TRUE(Exists(places.folder + L"\\" + name)) << ui::Narrow(name);
    EXPECT_TRUE(SamePath(EntryFolder(), places.folder)) << "the entry: " << ui::Narrow(EntryFolder());
    for (const std::wstring& link :
         {places.groupFolder + L"\\Murmelist.lnk", places.startupLink, places.desktopLink})
        EXPECT_TRUE(LeadsInto(ReadShortcut(link).target, places.folder)) << ui::Narrow(link);
    std::wstring command =
        RegistryText(HKEY_CLASSES_ROOT, std::wstring(FILE_CLASS) + L"\\shell\\open\\command", nullptr);
    EXPECT_TRUE(LeadsInto(command, places.folder)) << "the file type: " << ui::Narrow(command);
}

// The uninstaller in folder, which must leave nothing to report.
void Uninstall(const std::wstring& folder)
{
    std::wstring report;
    EXPECT_TRUE(RunUninstaller(folder, TestRoot() + L"\\" + UniqueName(L"report") + L".txt", &report))
        << "the uninstaller in " << ui::Narrow(folder) << " did not finish";
    EXPECT_EQ(report, L"");
}

void ExpectAsBefore(const Places& places)
{
    EXPECT_EQ(places.Present(), std::vector<std::wstring>()) << "left:" << Listed(places.Present());
    places.Clear();
}

}  // namespace

// Installed again into another folder with the same group: each copy's
// uninstaller takes only what is still its own, whichever runs first.
TEST(Lifecycle, AMovedInstallationAndTheOldCopyEachGoWithTheirOwnUninstaller)
{
    for (bool oldFirst : {true, false}) {
        SCOPED_TRACE(oldFirst ? "the old copy's uninstaller first" : "the old copy's uninstaller last");
        Places old(L"old"), moved(L"moved", old.group);
        InstallAll(old);
        InstallAll(moved);
        ExpectWhole(moved, PayloadNames());
        if (oldFirst) {
            Uninstall(old.folder);
            EXPECT_FALSE(Exists(old.folder));
            ExpectWhole(moved, PayloadNames());
        }
        Uninstall(EntryFolder());
        if (!oldFirst) {
            EXPECT_FALSE(Exists(moved.folder));
            Uninstall(old.folder);
        }
        ExpectAsBefore(old);
        ExpectAsBefore(moved);
    }
}

// The same package again leaves the log as it was. A later package (a file
// dropped, one added, one changed, one group shortcut fewer) over it, Yes to
// every replacement: the log keeps what the later one no longer records,
// and the entry's uninstaller removes what either installed.
TEST(Lifecycle, ALaterPackageOverTheFirstLeavesNothingOfEitherOnceUninstalled)
{
    Places places(L"later");
    std::string first, again;
    InstallAll(places);
    ReadLog(places.folder, &first);
    InstallAll(places);
    ReadLog(places.folder, &again);
    EXPECT_EQ(again, first) << "the same package again changed the log";

    InstallAll(places, BuildPath(L"variants\\setup-later.exe"));
    ExpectWhole(places, {L"MurmList.exe", L"murm.chm", L"settings.ini", L"readme.txt", L"uninst.exe"});
    EXPECT_EQ(FileSize(places.folder + L"\\murm.chm"), 5000);
    std::vector<LogLine> log = ReadLog(places.folder);
    for (const std::wstring& dropped : {places.folder + L"\\Base2.vdb",
                                        places.groupFolder + L"\\Удалить Murmelist.lnk"})
        EXPECT_NE(std::find_if(log.begin(), log.end(),
                               [&](const LogLine& line) {
                                   return line.section == L"Earlier" && line.value == dropped;
                               }),
                  log.end())
            << ui::Narrow(dropped) << " is no longer recorded";
    Uninstall(EntryFolder());
    ExpectAsBefore(places);
}

// The uninstaller leaves the running product's file, and then its folder,
// to the restart; the product installed again at once must survive it.
// Renames of another program's, with names outside the ANSI code page,
// stay exactly as they were.
TEST(Lifecycle, AnInstallationBeforeTheRestartKeepsItsFilesThroughIt)
{
    Places places(L"restart");
    InstallAll(places);
    const Renames others = {{L"\\??\\C:\\murm-e2e\\другой-日本.tmp", L""},
                            {L"\\??\\C:\\murm-e2e\\src-ü.tmp", L"!\\??\\C:\\murm-e2e\\dst-ü.tmp"}};
    std::wstring list;
    for (const auto& rename : RenamesBelow(L"")) list += rename.first + L'\0' + rename.second + L'\0';
    for (const auto& rename : others) list += rename.first + L'\0' + rename.second + L'\0';
    list += L'\0';
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, PENDING, REG_MULTI_SZ, list.data(),
                              (DWORD)(list.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);

    const std::wstring product = places.folder + L"\\MurmList.exe";
    HANDLE held = CreateFileW(product.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(RunUninstaller(places.folder, TestRoot() + L"\\" + UniqueName(L"report") + L".txt", nullptr));
    CloseHandle(held);
    ASSERT_EQ(RenamesBelow(places.folder),
              (Renames{{L"\\??\\" + product, L""}, {L"\\??\\" + places.folder, L""}}));
    Renames rest;
    for (const auto& rename : RenamesBelow(L""))
        if (!IsBelow(rename.first, places.folder)) rest.push_back(rename);

    InstallAll(places);
    EXPECT_EQ(RenamesBelow(places.folder), Renames());
    // Other tests may add renames meanwhile; none of those there may change.
    Renames after = RenamesBelow(L"");
    auto at = after.begin();
    for (const auto& rename : rest)
        at = std::find(at, after.end(), rename);
    EXPECT_TRUE(at != after.end()) << "a rename of another program's changed or went";
    // A restart, as Wine carries it out.
    ui::Launch restart;
    restart.program = SpecialFolder(CSIDL_SYSTEM) + L"\\wineboot.exe";
    restart.arguments = L"-r";
    ui::Process wineboot;
    ASSERT_TRUE(ui::Start(restart, &wineboot));
    ASSERT_TRUE(ui::WaitForExit(wineboot, ui::WAIT_MS, nullptr));
    EXPECT_EQ(RenamesBelow(TestRoot()), Renames()) << "the restart did not carry the list out";
    ExpectWhole(places, PayloadNames());
    Uninstall(EntryFolder());
    ExpectAsBefore(places);
}

// An uninstaller started while a setup waits on a page is refused, with
// and without questions, and removes nothing; where the user can see it,
// the setup's page comes to the front. The setup then installs to the end.
TEST(Lifecycle, AnUninstallerStartedDuringASetupWaitsItsTurn)
{
    Places first(L"first"), second(L"second");
    InstallAll(first);
    ui::Process setup;
    HWND destination = WalkToDestination(setup, StartSetup(&setup));
    ASSERT_TRUE(destination);

    const std::wstring uninstaller = EntryFolder() + L"\\uninst.exe";
    ExpectRefused(uninstaller, UNINSTALL_CAPTION, L"/quiet", true);
    // Another program in front of the page: only the refused uninstaller
    // brings the page back.
    ui::Launch launch;
    launch.program = BuildPath(L"package\\MurmList.exe");
    ui::Process other;
    ASSERT_TRUE(ui::Start(launch, &other));
    ASSERT_TRUE(ui::WaitUntil([&] {
        std::vector<HWND> windows = ui::TopLevelWindows(other.id);
        return !windows.empty() && GetForegroundWindow() == windows[0];
    }));
    ExpectRefused(uninstaller, UNINSTALL_CAPTION);
    EXPECT_EQ(GetForegroundWindow(), destination) << "the setup's page did not come to the front";
    ui::Kill(&other);
    ExpectWhole(first, PayloadNames());

    HWND group = WalkToGroup(setup, destination, second.folder);
    ASSERT_TRUE(group);
    ASSERT_TRUE(ui::SetControlText(group, IDC_GROUP_NAME, second.group));
    HWND finish = RunCopying(setup, group, AlwaysYes, nullptr);
    ASSERT_TRUE(finish);
    CloseFinish(setup, finish, OPTIONS, false);
    ExpectWhole(second, PayloadNames());
    Uninstall(second.folder);
    Uninstall(first.folder);
    ExpectAsBefore(first);
    ExpectAsBefore(second);
}
