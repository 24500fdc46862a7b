// Bad input met from outside the running setup.exe: folders and group
// names no file system takes or the system keeps for its devices, paths
// too long for the program's buffers,
// and a strange environment. Each must end in a clear message and a page
// that stays, or an installation that keeps inside its folder; never a
// crash, a hang or a file somewhere else.
//
// One case installs, so this program also takes the resource lock of the
// product's fixed registry keys.
#include <algorithm>

#include "wizard_support.h"

using namespace wiz;

namespace {

const size_t LONGEST = 259;  // characters a path or a name may have

// Presses Next and expects a refusal owned by page with the error caption;
// returns its text, or "(none)" when the page went on or nothing came.
std::wstring Refusal(const ui::Process& setup, HWND page)
{
    if (!ui::Click(page, IDC_NEXT)) return L"(Next cannot be pressed)";
    ui::MessageBoxInfo box;
    bool asked = ui::WaitUntil([&] { return ui::FindMessageBox(setup.id) || !IsWindowVisible(page); });
    if (!asked || !ui::WaitForMessageBox(setup.id, &box, 1000)) return L"(none)";
    EXPECT_EQ(box.caption, ERROR_CAPTION);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(box.owner, page);
    EXPECT_TRUE(ui::Answer(box.window, IDOK));
    EXPECT_TRUE(IsWindowVisible(page)) << "the page must stay";
    EXPECT_TRUE(ui::IsRunning(setup));
    return box.text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The text after whichever refusal text begins it.
std::wstring RefusedPath(const std::wstring& text)
{
    for (const wchar_t* prefix : {PATH_TOO_LONG, CANNOT_CREATE})
        if (StartsWith(text, prefix)) return text.substr(wcslen(prefix));
    return text;
}

std::wstring MissingDrive()
{
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
        std::wstring root = std::wstring(1, letter) + L":\\";
        if (GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR) return root;
    }
    return L"";
}

}  // namespace

TEST(BadInput, AStrangeProgramFilesFallsBackToTheBuiltInFolder)
{
    struct Case {
        const char* name;
        ui::EnvChange change;
    };
    const Case cases[] = {
        {"unset", {L"ProgramFiles", L"", true}},
        {"empty", {L"ProgramFiles", L""}},
        {"300 characters", {L"ProgramFiles", L"C:\\" + std::wstring(297, L'p')}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui::Process setup;
        HWND destination = WalkToDestination(setup, StartSetup(&setup, {c.change}));
        ASSERT_TRUE(destination);
        EXPECT_EQ(ui::ControlText(destination, IDC_DEST_DIR), L"C:\\Program Files\\Murmelist");
        LeaveWizard(setup, destination);
    }
}

TEST(BadInput, TheDestinationRefusesPathsItCannotUse)
{
    const std::wstring root = TestRoot();
    const std::wstring stem = UniqueName(L"bad dest");
    const std::wstring base = root + L"\\" + stem;

    ui::Process setup;
    HWND page = WalkToDestination(setup, StartSetup(&setup));
    ASSERT_TRUE(page);

    // Typed by a user, a 300-character path stops at the box's limit, and
    // no buffer behind it takes more.
    {
        SCOPED_TRACE("300 characters");
        std::wstring typed = base + L"\\" + std::wstring(300 - base.size() - 1, L'x');
        ASSERT_TRUE(ui::TypeText(page, IDC_DEST_DIR, typed));
        std::wstring held = ui::ControlText(page, IDC_DEST_DIR);
        EXPECT_LE(held.size(), LONGEST);
        EXPECT_TRUE(StartsWith(typed, held));
        std::wstring text = Refusal(setup, page);
        EXPECT_TRUE(StartsWith(text, PATH_TOO_LONG) || StartsWith(text, CANNOT_CREATE))
            << ui::Narrow(text);
        std::wstring path = RefusedPath(text);
        EXPECT_LE(path.substr(0, path.find(L'\n')).size(), LONGEST);
    }

    // Too long once the installed names are joined to it: the longest, a
    // payload file, the product program or a shortcut's target, has 12
    // characters. Trailing dots and spaces typed after it are dropped, in
    // the box too, as the file system would drop them.
    {
        SCOPED_TRACE("joined paths too long");
        std::wstring folder = root + L"\\" + std::wstring(247 - root.size() - 1, L'j');
        ASSERT_EQ(folder.size(), 247u);
        ASSERT_TRUE(ui::SetControlText(page, IDC_DEST_DIR, folder + L" . "));
        std::wstring text = Refusal(setup, page);
        const std::wstring expected = FolderTooLong(folder, L"");
        EXPECT_EQ(text.substr(0, expected.size()), expected);
        EXPECT_EQ(text.size(), expected.size() + 12) << ui::Narrow(text);
        EXPECT_EQ(ui::ControlText(page, IDC_DEST_DIR), folder);
    }

    // Typed through its parent's 8.3 name it would fit; its one spelling,
    // the long one, which the box then shows, does not.
    {
        SCOPED_TRACE("short name of a long parent");
        std::wstring parent = root + L"\\" + UniqueName(L"long parent");
        parent.resize(245, L'p');
        Leftovers leftovers{{parent}};
        wchar_t shortName[MAX_PATH] = L"";
        ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
        ASSERT_TRUE(GetShortPathNameW(parent.c_str(), shortName, MAX_PATH));
        ASSERT_TRUE(ui::SetControlText(page, IDC_DEST_DIR, shortName + std::wstring(L"\\x")));
        std::wstring text = Refusal(setup, page);
        const std::wstring expected = FolderTooLong(parent + L"\\x", L"");
        EXPECT_EQ(text.substr(0, expected.size()), expected);
        EXPECT_EQ(text.size(), expected.size() + 12) << ui::Narrow(text);
        EXPECT_EQ(ui::ControlText(page, IDC_DEST_DIR), parent + L"\\x");
        EXPECT_FALSE(Exists(parent + L"\\x"));
    }

    // Nothing is left once the system has dropped what it drops.
    for (const wchar_t* blank : {L".", L"..", L"   ", L". . "}) {
        SCOPED_TRACE("\"" + ui::Narrow(blank) + "\"");
        ASSERT_TRUE(ui::SetControlText(page, IDC_DEST_DIR, blank));
        EXPECT_EQ(Refusal(setup, page), BLANK_FOLDER);
    }

    // A device's name in any part of the folder, as the system takes it:
    // in any case, with an extension, spaces or dots behind it; and a
    // device's own path. The message names the part.
    for (const std::wstring device : {L"NUL", L"com1.txt", L"Aux ", L"lpt9.dat.", L"CON .log"}) {
        for (const std::wstring& path : {base + L"\\" + device, base + L"\\" + device + L"\\x"}) {
            SCOPED_TRACE(ui::Narrow(path));
            ASSERT_TRUE(ui::SetControlText(page, IDC_DEST_DIR, path));
            EXPECT_EQ(Refusal(setup, page), RESERVED_NAME + device);
        }
    }
    ASSERT_TRUE(ui::SetControlText(page, IDC_DEST_DIR, L"\\\\.\\C:\\Murmelist"));
    EXPECT_EQ(Refusal(setup, page), RESERVED_NAME + std::wstring(L"\\\\.\\C:\\Murmelist"));

    std::vector<std::wstring> refused = {base + L"<", base + L">", base + L"|", base + L"\"",
                                         L"\\\\nosuchserver\\noshare\\Murmelist"};
    std::wstring drive = MissingDrive();
    if (!drive.empty()) refused.push_back(drive + L"Murmelist");
    for (const std::wstring& path : refused) {
        SCOPED_TRACE(ui::Narrow(path));
        ASSERT_TRUE(ui::SetControlText(page, IDC_DEST_DIR, path));
        EXPECT_EQ(Refusal(setup, page), CANNOT_CREATE + path);
    }
    EXPECT_TRUE(EntriesStartingWith(root, stem).empty()) << "a refused path made something";

    // Just short enough is taken.
    std::wstring fits = root + L"\\" + std::wstring(246 - root.size() - 1, L'k');
    ASSERT_TRUE(ui::SetControlText(page, IDC_DEST_DIR, fits));
    HWND group = PressAndWaitFor(setup, page, IDC_NEXT, GROUP);
    RemoveTree(fits);
    ASSERT_TRUE(group);
    LeaveWizard(setup, group);
}

TEST(BadInput, TheGroupPageRefusesNamesNoFolderCanHave)
{
    const std::wstring folder = TestRoot() + L"\\" + UniqueName(L"bad group");
    const std::wstring programs = SpecialFolder(CSIDL_PROGRAMS);
    const std::wstring stem = UniqueName(L"e2e bad");
    Leftovers leftovers{{folder}};

    ui::Process setup;
    HWND page = WalkToGroup(setup, WalkToDestination(setup, StartSetup(&setup)), folder);
    ASSERT_TRUE(page);

    for (wchar_t c : std::wstring(L"?|*:\\/\"<>")) {
        std::wstring name = stem + std::wstring(1, c) + L"name";
        SCOPED_TRACE(ui::Narrow(name));
        ASSERT_TRUE(ui::SetControlText(page, IDC_GROUP_NAME, name));
        EXPECT_EQ(Refusal(setup, page), BAD_GROUP_NAME);
    }
    // Trimmed as the file system trims a name, these leave nothing: the
    // group would be the Programs folder itself or its parent.
    for (const wchar_t* blank : {L".", L"..", L"   ", L".. "}) {
        SCOPED_TRACE("\"" + ui::Narrow(blank) + "\"");
        ASSERT_TRUE(ui::SetControlText(page, IDC_GROUP_NAME, blank));
        EXPECT_EQ(Refusal(setup, page), BLANK_GROUP);
    }

    for (const wchar_t* device : {L"NUL", L"com1.txt", L"Lpt9 ", L"prn.", L"CON .log"}) {
        SCOPED_TRACE(ui::Narrow(device));
        ASSERT_TRUE(ui::SetControlText(page, IDC_GROUP_NAME, device));
        EXPECT_EQ(Refusal(setup, page), RESERVED_NAME + std::wstring(device));
    }

    // A name longer than any folder path can hold: the box keeps at most
    // 259 characters, and the page refuses what cannot fit.
    std::wstring typed = stem + std::wstring(300 - stem.size(), L'g');
    ASSERT_TRUE(ui::TypeText(page, IDC_GROUP_NAME, typed));
    EXPECT_LE(ui::ControlText(page, IDC_GROUP_NAME).size(), LONGEST);
    std::wstring text = Refusal(setup, page);
    EXPECT_NE(text, L"(none)") << "a group folder longer than a path was taken";

    EXPECT_TRUE(EntriesStartingWith(programs, stem).empty()) << "a refused name made a folder";
    if (IsWindowVisible(page)) LeaveWizard(setup, page);
}

// People type a stray space or an extra dot, and relative names. The file
// system drops trailing spaces and dots from the folder it makes; every
// file, shortcut, registry value and log line must name that same folder,
// and the uninstaller started from the uninstall entry must find it all.
TEST(BadInput, NamesEndingInSpacesOrDotsInstallUnderTheNamesTheSystemStores)
{
    const std::wstring name = UniqueName(L"trailing");
    const std::wstring folder = TestRoot() + L"\\" + name;
    const std::wstring group = UniqueName(L"e2e trailing");
    const std::wstring programs = SpecialFolder(CSIDL_PROGRAMS);
    const std::wstring startupLink = SpecialFolder(CSIDL_STARTUP) + L"\\Murmelist.lnk";
    const std::wstring desktopLink = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Murmelist.lnk";
    Leftovers leftovers{{folder, programs + L"\\" + group, startupLink, desktopLink}};

    // Typed relative to the folder setup was started in.
    ui::Process setup;
    HWND page = WalkToGroup(setup, WalkToDestination(setup, StartSetup(&setup, {}, TestRoot())),
                            name + L" .. ");
    ASSERT_TRUE(page);
    ASSERT_TRUE(ui::SetControlText(page, IDC_GROUP_NAME, group + L". "));
    std::vector<Question> questions;
    HWND finish = RunCopying(setup, page, AlwaysYes, &questions);
    ASSERT_TRUE(finish);
    EXPECT_TRUE(questions.empty()) << "asked: " << ui::Narrow(questions[0].box.text);
    CloseFinish(setup, finish, {IDC_DESKTOP_LINK, IDC_STARTUP_LINK, IDC_ASSOCIATE}, false);

    for (const std::wstring& file : PayloadNames())
        EXPECT_TRUE(InstalledFile(folder, file) == PackageFile(file)) << ui::Narrow(file);
    // Every logged file and shortcut is where the log says, and nothing
    // landed next to the folder.
    std::vector<LogLine> log = ReadLog(folder);
    EXPECT_EQ(LogValue(log, L"Files", L"Dir"), folder);
    EXPECT_EQ(LogValue(log, L"Links", L"Dir"), programs + L"\\" + group);
    EXPECT_EQ(LogValue(log, L"Links", L"n"), L"4");
    for (const LogLine& line : log) {
        bool isFile = line.section == L"Files" && line.key.compare(0, 4, L"File") == 0;
        bool isLink = line.section == L"Links" && line.key.compare(0, 4, L"Link") == 0;
        if (!isFile && !isLink) continue;
        SCOPED_TRACE(ui::Narrow(line.value));
        EXPECT_TRUE(Exists(line.value));
        EXPECT_TRUE(!isFile || StartsWith(line.value, folder + L"\\"));
    }
    EXPECT_EQ(EntriesStartingWith(TestRoot(), name), std::vector<std::wstring>{name})
        << "only the installation folder is new";
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"UninstallString"),
              L"\"" + folder + L"\\uninst.exe\"");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L"VarazAzadEvuz\\shell\\open\\command", nullptr),
              L"\"" + folder + L"\\murmlist.exe\" \"%1\"");

    std::wstring report;
    ASSERT_TRUE(RunUninstaller(folder, TestRoot() + L"\\" + name + L"-report.txt", &report));
    EXPECT_EQ(ui::Narrow(report), "") << "left behind";
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(Exists(programs + L"\\" + group));
    EXPECT_FALSE(Exists(startupLink));
    EXPECT_FALSE(Exists(desktopLink));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"VarazAzadEvuz"));
}

// However the folder is written, it is installed under its one plain
// spelling, and every log line, registry value and shortcut carries that:
// the uninstaller started from the uninstall entry finds it all. The parent
// has a long name, and so an 8.3 name of its own; in other letters' case it
// is spelled as the system gives it back (Wine keeps the case typed).
TEST(BadInput, EveryWayOfWritingAFolderInstallsUnderItsOnePlainSpelling)
{
    const std::wstring parent = TestRoot() + L"\\" + UniqueName(L"Long Parent Name");
    Leftovers leftovers{{parent}};
    ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
    wchar_t shortName[MAX_PATH] = L"", caseName[MAX_PATH] = L"";
    ASSERT_TRUE(GetShortPathNameW(parent.c_str(), shortName, MAX_PATH));
    ASSERT_NE(parent, shortName);
    std::wstring otherCase = parent;
    CharUpperW(&otherCase[0]);
    ASSERT_TRUE(GetLongPathNameW(otherCase.c_str(), caseName, MAX_PATH));
    std::wstring slashed = parent + L"\\slashed";
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\\\\?\\" + parent + L"\\prefixed", parent + L"\\prefixed"},
        {shortName + std::wstring(L"\\short"), parent + L"\\short"},
        {otherCase + L"\\case", caseName + std::wstring(L"\\case")},
        {slashed, parent + L"\\slashed"},
        {parent + L"\\.\\dotted", parent + L"\\dotted"},
        {parent + L"\\ended\\", parent + L"\\ended"},
    };
    for (const auto& [typed, spelled] : cases) {
        SCOPED_TRACE(ui::Narrow(typed));
        Places places(L"spelling");
        places.folder = spelled;
        places.Clear();
        ui::Process setup;
        HWND finish = Install(setup, StartSetup(&setup), typed, places.group);
        ASSERT_TRUE(finish);
        CloseFinish(setup, finish, {IDC_STARTUP_LINK, IDC_ASSOCIATE}, false);
        EXPECT_EQ(LogValue(ReadLog(spelled), L"Files", L"Dir"), spelled);
        EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"UninstallString"),
                  L"\"" + spelled + L"\\uninst.exe\"");
        EXPECT_EQ(ReadShortcut(places.startupLink).target, spelled + L"\\murmlist.exe");
        EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L"VarazAzadEvuz\\shell\\open\\command", nullptr),
                  L"\"" + spelled + L"\\murmlist.exe\" \"%1\"");
        std::wstring report;
        ASSERT_TRUE(RunUninstaller(EntryFolder(), spelled + L"-report.txt", &report));
        EXPECT_EQ(ui::Narrow(report), "") << "left behind";
        EXPECT_TRUE(places.Present().empty()) << Listed(places.Present());
    }
}
