// The whole wizard, driven from outside the running setup.exe: the
// destination and group pages, the installation, the finish options, a
// second installation over the first, and the uninstaller undoing it all.
//
// These tests write the fixed registry keys of the product (the uninstall
// entry and the .vdb file type) and the fixed Startup and Desktop
// shortcuts, so CTest runs this program under a resource lock.
#include <algorithm>
#include <functional>

#include "wizard_support.h"

using namespace wiz;

namespace {

std::wstring ProgramsFolder() { return SpecialFolder(CSIDL_PROGRAMS); }

void ExpectShortcut(const std::wstring& link, const std::wstring& target, const std::wstring& folder)
{
    SCOPED_TRACE(ui::Narrow(link));
    Shortcut shortcut = ReadShortcut(link);
    ASSERT_TRUE(shortcut.read) << "cannot read the shortcut";
    EXPECT_TRUE(SamePath(shortcut.target, target)) << ui::Narrow(shortcut.target);
    EXPECT_TRUE(SamePath(shortcut.workingDirectory, folder)) << ui::Narrow(shortcut.workingDirectory);
}

void ExpectPayloadInstalled(const std::wstring& folder, const std::wstring& except = L"")
{
    for (const std::wstring& name : PayloadNames()) {
        if (name == except) continue;
        EXPECT_TRUE(InstalledFile(folder, name) == PackageFile(name))
            << ui::Narrow(name) << " does not hold the package's bytes";
    }
}

long long PayloadTotal()
{
    long long total = 0;
    for (const std::wstring& name : PayloadNames()) total += (long long)PackageFile(name).size();
    return total;
}

bool ProductStarts(const std::wstring& folder, int timeoutMs, HWND* window, DWORD* process)
{
    *window = ui::WaitForProgramWindow(folder + L"\\murmlist.exe", process, timeoutMs);
    return *window != nullptr;
}

}  // namespace

TEST(Wizard, EveryOptionInstallsWhatTheLogRecordsAndTheUninstallerRemovesIt)
{
    // A space in the folder: the registry's commands must still name it.
    const std::wstring folder = TestRoot() + L"\\" + UniqueName(L"full install");
    const std::wstring group = UniqueName(L"Murm full");
    const std::wstring groupFolder = ProgramsFolder() + L"\\" + group;
    const std::wstring startupLink = SpecialFolder(CSIDL_STARTUP) + L"\\Murmelist.lnk";
    const std::wstring desktopLink = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Murmelist.lnk";
    Leftovers leftovers{{folder, groupFolder}};
    DeleteFileW(startupLink.c_str());
    DeleteFileW(desktopLink.c_str());

    ui::Process setup;
    HWND page = WalkToDestination(setup, StartSetup(&setup));
    ASSERT_TRUE(page);
    page = WalkToGroup(setup, page, folder);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ControlText(page, IDC_GROUP_NAME), L"Murmelist");
    ASSERT_TRUE(ui::SetControlText(page, IDC_GROUP_NAME, group));
    std::vector<Question> questions;
    HWND finish = RunCopying(setup, page, AlwaysYes, &questions);
    ASSERT_TRUE(finish);
    EXPECT_TRUE(questions.empty()) << "a fresh folder asks nothing";
    for (int option : {IDC_DESKTOP_LINK, IDC_STARTUP_LINK, IDC_RUN_PROGRAM, IDC_ASSOCIATE})
        EXPECT_EQ(ui::ButtonState(finish, option) & BST_CHECKED, 0) << "option " << option;
    CloseFinish(setup, finish, {IDC_DESKTOP_LINK, IDC_STARTUP_LINK, IDC_RUN_PROGRAM, IDC_ASSOCIATE},
                false);

    HWND product = nullptr;
    DWORD productProcess = 0;
    EXPECT_TRUE(ProductStarts(folder, ui::WAIT_MS, &product, &productProcess))
        << "the product did not start";
    if (product) {
        EXPECT_EQ(ui::ClassName(product), L"MurmelistMainWindow");
        EXPECT_EQ(ui::WindowText(product), L"Murmelist 2.0");
        ui::EndProgram(product, productProcess);
    }

    ExpectPayloadInstalled(folder);

    const std::wstring groupLink1 = groupFolder + L"\\Murmelist.lnk";
    const std::wstring groupLink2 = groupFolder + L"\\Удалить Murmelist.lnk";
    ExpectShortcut(groupLink1, folder + L"\\murmlist.exe", folder);
    ExpectShortcut(groupLink2, folder + L"\\uninst.exe", folder);
    ExpectShortcut(startupLink, folder + L"\\murmlist.exe", folder);
    ExpectShortcut(desktopLink, folder + L"\\murmlist.exe", folder);

    std::vector<LogLine> expected = {
        {L"Common", L"", L""},
        {L"Common", L"ProgramName", L"Murmelist"},
        {L"Files", L"", L""},
        {L"Files", L"Dir", folder},
        {L"Files", L"n", L"6"},
        {L"Files", L"size", std::to_wstring(PayloadTotal())},
        {L"Files", L"File1", folder + L"\\MurmList.exe"},
        {L"Files", L"File2", folder + L"\\murm.chm"},
        {L"Files", L"File3", folder + L"\\settings.ini"},
        {L"Files", L"File4", folder + L"\\Base2.vdb"},
        {L"Files", L"File5", folder + L"\\uninst.exe"},
        {L"Files", L"File6", folder + L"\\settings.ini"},
        {L"Links", L"", L""},
        {L"Links", L"n", L"4"},
        {L"Links", L"Link1", groupLink1},
        {L"Links", L"Link2", groupLink2},
        {L"Links", L"Dir", groupFolder},
        {L"Links", L"size", std::to_wstring(FileSize(groupLink1) + FileSize(groupLink2))},
        {L"Links", L"Link3", startupLink},
        {L"Links", L"Link4", desktopLink},
        {L"RegUninst", L"", L""},
        {L"RegUninst", L"n", L"3"},
        {L"RegUninst", L"Dir", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
        {L"RegUninst", L"SubKey", L"Murmelist"},
        {L"RegUninst", L"Key1", L"DisplayName"},
        {L"RegUninst", L"Key2", L"UninstallString"},
        {L"RegClass", L"", L""},
        {L"RegClass", L"n", L"6"},
        {L"RegClass", L"Dir1", L""},
        {L"RegClass", L"Sub1", L".vdb"},
        {L"RegClass", L"Dir6", L""},
        {L"RegClass", L"Sub6", L"VarazAzadEvuz"},
        {L"RegClass", L"Sub5", L"DefaultIcon"},
        {L"RegClass", L"Dir4", L"VarazAzadEvuz"},
        {L"RegClass", L"Dir5", L"VarazAzadEvuz"},
        {L"RegClass", L"Sub4", L"shell"},
        {L"RegClass", L"Dir3", L"VarazAzadEvuz\\shell"},
        {L"RegClass", L"Sub3", L"open"},
        {L"RegClass", L"Dir2", L"VarazAzadEvuz\\shell\\open"},
        {L"RegClass", L"Sub2", L"command"},
    };
    std::string raw;
    std::vector<LogLine> log = ReadLog(folder, &raw);
    EXPECT_EQ(log, expected);
    EXPECT_NE(raw.find("\r\nDir1=\r\n"), std::string::npos) << "the empty parent is written as Dir1=";

    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"DisplayName"), L"Murmelist");
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"UninstallString"),
              L"\"" + folder + L"\\uninst.exe\"");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L".vdb", nullptr), L"VarazAzadEvuz");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L"VarazAzadEvuz\\DefaultIcon", nullptr),
              folder + L"\\murmlist.exe,1");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L"VarazAzadEvuz\\shell\\open\\command", nullptr),
              L"\"" + folder + L"\\murmlist.exe\" \"%1\"");

    // The uninstaller reads the log and must leave nothing behind.
    std::wstring report;
    ASSERT_TRUE(RunUninstaller(folder, TestRoot() + L"\\" + UniqueName(L"report") + L".txt", &report))
        << "the uninstaller did not finish";
    EXPECT_EQ(ui::Narrow(report), "") << "left behind";
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(Exists(groupFolder));
    EXPECT_FALSE(Exists(startupLink));
    EXPECT_FALSE(Exists(desktopLink));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, L".vdb"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"VarazAzadEvuz"));
}

TEST(Wizard, TheDefaultFolderFollowsProgramFiles)
{
    struct Case {
        const char* name;
        std::vector<ui::EnvChange> environment;
        std::wstring folder;
    };
    const Case cases[] = {
        {"set", {{L"ProgramFiles", L"D:\\Apps"}}, L"D:\\Apps\\Murmelist"},
        {"unset", {{L"ProgramFiles", L"", true}}, L"C:\\Program Files\\Murmelist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui::Process setup;
        HWND destination = WalkToDestination(setup, StartSetup(&setup, c.environment));
        ASSERT_TRUE(destination);
        EXPECT_EQ(ui::ControlText(destination, IDC_DEST_DIR), c.folder);
        EXPECT_EQ(ui::ControlText(destination, IDC_SPACE_TEXT), L"Необходимо: 68 килобайт");
        LeaveWizard(setup, destination);
    }
}

TEST(Wizard, TheDestinationRefusesFoldersItCannotUseAndResetsOnEveryVisit)
{
    const std::wstring base = TestRoot() + L"\\" + UniqueName(L"dest");
    const std::wstring file = base + L".txt";
    const std::wstring missingParent = base + L"\\missing\\folder";
    const std::wstring fresh = base + L"-new";
    Leftovers leftovers{{base, file, fresh}};
    ASSERT_TRUE(ui::WriteFileBytes(file, "not a folder"));

    ui::Process setup;
    HWND destination =
        WalkToDestination(setup, StartSetup(&setup, {{L"ProgramFiles", L"D:\\Apps"}}));
    ASSERT_TRUE(destination);

    for (const std::wstring& refused : {std::wstring(), missingParent, file}) {
        SCOPED_TRACE("refused: \"" + ui::Narrow(refused) + "\"");
        ASSERT_TRUE(ui::SetControlText(destination, IDC_DEST_DIR, refused));
        ASSERT_TRUE(ui::Click(destination, IDC_NEXT));
        ui::MessageBoxInfo box;
        ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box)) << "no message";
        EXPECT_EQ(box.caption, ERROR_CAPTION);
        EXPECT_EQ(box.text, CANNOT_CREATE + refused);
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
        EXPECT_FALSE(box.hasIcon);
        EXPECT_EQ(box.owner, destination);
        ASSERT_TRUE(ui::Answer(box.window, IDOK));
        EXPECT_EQ(ui::FindPage(setup.id, DESTINATION), destination) << "the page must stay";
    }
    EXPECT_FALSE(Exists(base + L"\\missing"));
    std::string bytes;
    EXPECT_TRUE(ui::ReadFileBytes(file, &bytes) && bytes == "not a folder");

    // A new folder one level below an existing one is made, and the page
    // goes on; coming back shows the default again, not the typed folder.
    HWND group = WalkToGroup(setup, destination, fresh);
    ASSERT_TRUE(group);
    EXPECT_TRUE(GetFileAttributesW(fresh.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    destination = PressAndWaitFor(setup, group, IDC_BACK, DESTINATION);
    ASSERT_TRUE(destination);
    EXPECT_EQ(ui::ControlText(destination, IDC_DEST_DIR), L"D:\\Apps\\Murmelist");

    // An existing folder is taken as it is.
    group = WalkToGroup(setup, destination, fresh);
    ASSERT_TRUE(group);
    LeaveWizard(setup, group);
}

TEST(Wizard, TheGroupPageListsPlainFoldersAndTakesOnlyGoodNames)
{
    const std::wstring programs = ProgramsFolder();
    const std::wstring plain = UniqueName(L"e2e plain");
    const std::wstring hidden = UniqueName(L"e2e hidden");
    const std::wstring system = UniqueName(L"e2e system");
    const std::wstring dotted = UniqueName(L".e2e dotted");
    const std::wstring file = UniqueName(L"e2e file") + L".txt";
    const std::wstring accepted = UniqueName(L"e2e Tools Misc");
    const std::wstring refused = UniqueName(L"e2e Tools/Misc");
    // Typed relative to the folder setup was started in.
    const std::wstring relative = UniqueName(L"relative");
    const std::wstring folder = TestRoot() + L"\\" + relative;
    Leftovers leftovers{{programs + L"\\" + plain, programs + L"\\" + hidden,
                         programs + L"\\" + system, programs + L"\\" + dotted,
                         programs + L"\\" + file, programs + L"\\" + accepted, folder}};
    for (const std::wstring& name : {plain, hidden, system, dotted})
        ASSERT_TRUE(CreateDirectoryW((programs + L"\\" + name).c_str(), nullptr));
    ASSERT_TRUE(ui::WriteFileBytes(programs + L"\\" + file, ""));
    SetFileAttributesW((programs + L"\\" + hidden).c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW((programs + L"\\" + system).c_str(), FILE_ATTRIBUTE_SYSTEM);

    ui::Process setup;
    HWND destination = WalkToDestination(setup, StartSetup(&setup, {}, TestRoot()));
    HWND group = WalkToGroup(setup, destination, relative);
    ASSERT_TRUE(group);
    EXPECT_EQ(ui::ControlText(group, IDC_GROUP_NAME), L"Murmelist");

    std::vector<std::wstring> items = ui::ListItems(group, IDC_GROUP_LIST);
    auto listed = [&](const std::wstring& name) {
        for (const std::wstring& item : items)
            if (item == name) return true;
        return false;
    };
    EXPECT_TRUE(listed(plain));
    EXPECT_FALSE(listed(file));
    EXPECT_FALSE(listed(dotted));
    EXPECT_FALSE(listed(L".")) << "nor the folder itself";
    // Only where the file system keeps the attribute is the folder special.
    if (GetFileAttributesW((programs + L"\\" + hidden).c_str()) & FILE_ATTRIBUTE_HIDDEN) {
        EXPECT_FALSE(listed(hidden));
    }
    if (GetFileAttributesW((programs + L"\\" + system).c_str()) & FILE_ATTRIBUTE_SYSTEM) {
        EXPECT_FALSE(listed(system));
    }

    // A double click copies the item's name into the box.
    ASSERT_TRUE(ui::DoubleClickListItem(group, IDC_GROUP_LIST, plain));
    EXPECT_EQ(ui::ControlText(group, IDC_GROUP_NAME), plain);

    ASSERT_TRUE(ui::SetControlText(group, IDC_GROUP_NAME, refused));
    ASSERT_TRUE(ui::Click(group, IDC_NEXT));
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box)) << "no message for " << ui::Narrow(refused);
    EXPECT_EQ(box.caption, ERROR_CAPTION);
    EXPECT_EQ(box.text, BAD_GROUP_NAME);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_FALSE(box.hasIcon);
    EXPECT_EQ(box.owner, group);
    ASSERT_TRUE(ui::Answer(box.window, IDOK));
    EXPECT_EQ(ui::FindPage(setup.id, GROUP), group);

    // Neither the refused nor a typed name is kept: back and forward shows
    // the last confirmed one.
    destination = PressAndWaitFor(setup, group, IDC_BACK, DESTINATION);
    group = WalkToGroup(setup, destination, relative);
    ASSERT_TRUE(group);
    EXPECT_EQ(ui::ControlText(group, IDC_GROUP_NAME), L"Murmelist");

    ASSERT_TRUE(ui::SetControlText(group, IDC_GROUP_NAME, accepted));
    HWND finish = RunCopying(setup, group, AlwaysYes, nullptr);
    ASSERT_TRUE(finish);
    const std::wstring groupFolder = programs + L"\\" + accepted;
    EXPECT_TRUE(Exists(groupFolder + L"\\Murmelist.lnk"));

    // The relative folder was installed into, and logged, as a full path.
    EXPECT_TRUE(Exists(folder + L"\\MurmList.exe"));
    std::string before;
    std::vector<LogLine> log = ReadLog(folder, &before);
    EXPECT_EQ(LogValue(log, L"Files", L"Dir"), folder);
    EXPECT_EQ(LogValue(log, L"Links", L"Dir"), groupFolder);

    // Closing with no option ticked does nothing more.
    CloseFinish(setup, finish, {}, false);
    HWND product = nullptr;
    DWORD productProcess = 0;
    EXPECT_FALSE(ProductStarts(folder, 1500, &product, &productProcess));
    if (product) ui::EndProgram(product, productProcess);
    std::string after;
    ReadLog(folder, &after);
    EXPECT_TRUE(after == before) << "the log changed after the finish page";

    RunUninstaller(folder, folder + L"-report.txt", nullptr);
}

TEST(Wizard, ASecondInstallationAsksBeforeEachReplacement)
{
    const std::wstring folder = TestRoot() + L"\\" + UniqueName(L"again");
    const std::wstring group = UniqueName(L"e2e again");
    const std::wstring startupLink = SpecialFolder(CSIDL_STARTUP) + L"\\Murmelist.lnk";
    Leftovers leftovers{{folder, ProgramsFolder() + L"\\" + group}};
    DeleteFileW(startupLink.c_str());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(ui::WriteFileBytes(folder + L"\\murm.chm", "an older help file"));

    // First run: the one file already there is kept on No, and its entry
    // leaves a gap in the log's numbering.
    {
        ui::Process setup;
        std::vector<Question> questions;
        HWND finish = Install(setup, StartSetup(&setup), folder, group,
                              [](const ui::MessageBoxInfo&) { return IDNO; }, &questions);
        ASSERT_TRUE(finish);
        ASSERT_EQ(questions.size(), 1u);
        const ui::MessageBoxInfo& box = questions[0].box;
        EXPECT_EQ(box.caption, ERROR_CAPTION);
        EXPECT_EQ(box.text, L"Файл murm.chm уже существует. Переписать его ?");
        EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(box.defaultButton, IDYES);
        EXPECT_FALSE(box.hasIcon);
        EXPECT_EQ(questions[0].pageCaption, COPYING);
        CloseFinish(setup, finish, {}, false);
    }
    EXPECT_EQ(InstalledFile(folder, L"murm.chm"), "an older help file");
    ExpectPayloadInstalled(folder, L"murm.chm");
    std::vector<LogLine> log = ReadLog(folder);
    EXPECT_EQ(LogValue(log, L"Files", L"n"), L"6");
    EXPECT_FALSE(LogHas(log, L"Files", L"File2"));
    for (const wchar_t* key : {L"File1", L"File3", L"File4", L"File5", L"File6"})
        EXPECT_TRUE(LogHas(log, L"Files", key)) << ui::Narrow(key);

    // Second run over it: a question for every file, in the package's
    // order; No keeps one changed file, Yes restores the rest.
    ASSERT_TRUE(ui::WriteFileBytes(folder + L"\\settings.ini", "[mine]\r\n"));
    ASSERT_TRUE(ui::WriteFileBytes(folder + L"\\Base2.vdb", "changed"));
    {
        ui::Process setup;
        std::vector<Question> questions;
        auto answer = [](const ui::MessageBoxInfo& box) {
            return box.text.find(L" settings.ini ") != std::wstring::npos ? IDNO : IDYES;
        };
        HWND finish = Install(setup, StartSetup(&setup), folder, group, answer, &questions);
        ASSERT_TRUE(finish);
        ASSERT_EQ(questions.size(), PayloadNames().size());
        for (size_t i = 0; i < questions.size(); ++i)
            EXPECT_EQ(questions[i].box.text,
                      L"Файл " + PayloadNames()[i] + L" уже существует. Переписать его ?");
        // The close box carries out the ticked options as the button does.
        CloseFinish(setup, finish, {IDC_STARTUP_LINK}, true);
    }
    EXPECT_EQ(InstalledFile(folder, L"settings.ini"), "[mine]\r\n");
    ExpectPayloadInstalled(folder, L"settings.ini");

    log = ReadLog(folder);
    ExpectNoDuplicates(log);
    EXPECT_EQ(LogValue(log, L"Files", L"File2"), folder + L"\\murm.chm");
    EXPECT_EQ(LogValue(log, L"Links", L"n"), L"3");
    EXPECT_EQ(LogValue(log, L"Links", L"Link3"), startupLink);
    EXPECT_FALSE(LogHas(log, L"Links", L"Link4"));
    EXPECT_FALSE(LogHas(log, L"RegClass", L"n"));
    ExpectShortcut(startupLink, folder + L"\\murmlist.exe", folder);
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"UninstallString"),
              L"\"" + folder + L"\\uninst.exe\"");

    RunUninstaller(folder, folder + L"-report.txt", nullptr);
    DeleteFileW(startupLink.c_str());
}

// The finish page offers only what leads somewhere, and says when the
// product cannot start. First run: the product's program cannot be written
// (something of the user's stands in its place) and is given up; the page
// says two items are missing (the program and its group shortcut) and
// offers no option that needs the program. Second run, complete: the
// program is damaged after copying; its start is reported by name.
TEST(Wizard, TheFinishPageOffersOnlyWhatLeadsSomewhereAndReportsAFailedStart)
{
    const std::wstring folder = TestRoot() + L"\\" + UniqueName(L"finish");
    const std::wstring group = UniqueName(L"e2e finish");
    const std::wstring program = folder + L"\\MurmList.exe";
    Leftovers leftovers{{folder, ProgramsFolder() + L"\\" + group}};
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(program.c_str(), nullptr));
    {
        ui::Process setup;
        auto answer = [](const ui::MessageBoxInfo& box) {
            const std::vector<int>& buttons = box.buttons;
            return std::count(buttons.begin(), buttons.end(), IDCANCEL) ? IDCANCEL : IDYES;
        };
        HWND finish = Install(setup, StartSetup(&setup), folder, group, answer);
        ASSERT_TRUE(finish);
        EXPECT_EQ(FinishOutcome(finish), Incomplete(2));
        for (int option : {IDC_DESKTOP_LINK, IDC_STARTUP_LINK, IDC_RUN_PROGRAM, IDC_ASSOCIATE})
            EXPECT_FALSE(ui::IsEnabled(finish, option)) << option;
        EXPECT_FALSE(Exists(ProgramsFolder() + L"\\" + group + L"\\Murmelist.lnk"));
        CloseFinish(setup, finish, {}, false, EXIT_INCOMPLETE);
    }
    ASSERT_TRUE(RemoveDirectoryW(program.c_str()));
    {
        ui::Process setup;
        HWND finish = Install(setup, StartSetup(&setup), folder, group);
        ASSERT_TRUE(finish);
        EXPECT_EQ(FinishOutcome(finish), INSTALLED);
        ASSERT_TRUE(ui::WriteFileBytes(program, "no program at all"));
        ASSERT_TRUE(ui::ClickNow(finish, IDC_RUN_PROGRAM));
        ASSERT_TRUE(ui::Click(finish, IDC_NEXT));
        ui::MessageBoxInfo box;
        ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box)) << "a failed start was not told";
        EXPECT_EQ(box.caption, ERROR_CAPTION);
        EXPECT_EQ(box.text, L"Невозможно запустить программу\n" + folder + L"\\murmlist.exe");
        ASSERT_TRUE(ui::Answer(box.window, IDOK));
        DWORD code = 1;
        ASSERT_TRUE(ui::WaitForExit(setup, ui::WAIT_MS, &code));
        EXPECT_EQ(code, 0u) << "the installation itself is complete";
    }
    RunUninstaller(folder, folder + L"-report.txt", nullptr);
}

// One setup at a time. A second one, started while the first waits on a
// page, says so, ends with 5 having made nothing, and brings the first
// one's page to the front. Its box does not hold the lock: once the first
// has ended, another setup starts although a refused one's box is still
// open. The first installs as ever.
TEST(Wizard, ASetupStartedWhileAnotherRunsSaysSoAndMakesNothing)
{
    Places places(L"one at a time");
    places.Clear();
    Leftovers leftovers{{places.folder, places.groupFolder}};
    ui::Process first, second, third, fourth, other;
    HWND page = WalkToDestination(first, StartSetup(&first));
    ASSERT_TRUE(page);
    // Another program in front of the page: only the refused setup brings
    // the page back.
    ui::Launch launch;
    launch.program = BuildPath(L"package\\MurmList.exe");
    ASSERT_TRUE(ui::Start(launch, &other));
    ASSERT_TRUE(ui::WaitUntil([&] {
        std::vector<HWND> windows = ui::TopLevelWindows(other.id);
        return !windows.empty() && GetForegroundWindow() == windows[0];
    }));
    ui::MessageBoxInfo box;
    StartRefused(&second, &box, SetupExe(), ERROR_CAPTION);
    EndRefused(second, &box);
    EXPECT_EQ(GetForegroundWindow(), page);
    EXPECT_TRUE(places.Present().empty()) << Listed(places.Present());

    StartRefused(&third, &box, SetupExe(), ERROR_CAPTION);
    page = WalkToGroup(first, page, places.folder);
    ASSERT_TRUE(page);
    ASSERT_TRUE(ui::SetControlText(page, IDC_GROUP_NAME, places.group));
    HWND finish = RunCopying(first, page, AlwaysYes, nullptr);
    ASSERT_TRUE(finish);
    CloseFinish(first, finish, {}, false);
    LeaveWizard(fourth, StartSetup(&fourth));
    EndRefused(third, &box);

    EXPECT_EQ(LogValue(ReadLog(places.folder), L"Files", L"Dir"), places.folder);
    std::wstring report;
    ASSERT_TRUE(RunUninstaller(EntryFolder(), places.folder + L"-report.txt", &report));
    EXPECT_EQ(ui::Narrow(report), "") << "left behind";
    EXPECT_TRUE(places.Present().empty()) << Listed(places.Present());
}
