// Setup is started from download folders, where anybody may have left a DLL
// named like a system one. These tests plant a marker DLL beside a copy of
// setup.exe under such names, walk the whole wizard (the folder picker and
// the Desktop and Startup shortcuts included) and check that no planted
// copy ever ran.
//
// What Wine does with a DLL beside a program decides what such a test can
// see. By default Wine loads its own built-in DLL in place of any file with
// a system DLL's name, wherever that file lies, so a planted copy never
// runs and nothing could be caught. Told to prefer native DLLs for a name
// (an AppDefaults DllOverrides entry "native,builtin" for the program), it
// takes the first file of that name on the search path, the program's own
// folder first, as Windows does for a DLL that is not a KnownDLL. The DLLs
// that are first loaded after start-up run native-first here, and a probe
// (this very program, copied beside the markers) shows that an unprotected
// load by name then does take the planted copy: that is what gives the
// setup's clean run its meaning.
//
// The other names are planted but left at Wine's default. Windows resolves
// the static imports, and what those load at start-up, from the system
// folder whatever lies beside the program (they are KnownDLLs; the import
// table test checks that setup imports nothing else). Wine knows no
// KnownDLLs: native-first for USER32 or SHELL32, or for SHLWAPI and
// VERSION, which Wine's own USER32, ADVAPI32 and SHELL32 load at start-up,
// puts the planted copies into any program before its first instruction.
#include "wizard_support.h"

#include <algorithm>
#include <cwctype>
#include <functional>

using namespace wiz;

namespace {

// First loaded after start-up: COMCTL32 by setup itself, UXTHEME by the
// common controls, OLEAUT32 by the shell and COM. Run native-first.
const wchar_t* const LATE_DLLS[] = {L"comctl32", L"oleaut32", L"uxtheme"};
// Loaded at start-up, before setup runs: imported by setup.exe, or by
// those DLLs themselves. Left at Wine's default.
const wchar_t* const EARLY_DLLS[] = {L"advapi32", L"gdi32",   L"ole32",
                                     L"shell32",  L"shlwapi", L"user32", L"version"};

const wchar_t MARKER_VARIABLE[] = L"MURM_MARKER_DIR";
const wchar_t PROBE_VARIABLE[] = L"MURM_LOAD_PROBE";

// Started as the probe (MURM_LOAD_PROBE names DLLs, comma-separated), this
// program loads each DLL by its bare name, with the search left as it is,
// the way an unprotected program would, and ends before any test runs.
const bool probeDone = [] {
    char names[512];
    DWORD length = GetEnvironmentVariableA("MURM_LOAD_PROBE", names, sizeof names);
    if (length == 0 || length >= sizeof names) return false;
    std::string list = names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string name = list.substr(start, end - start);
        if (!name.empty()) LoadLibraryA(name.c_str());
        start = end + 1;
    }
    ExitProcess(0);
}();

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text) c = (wchar_t)std::towlower(c);
    return text;
}

// Wine takes a program's DLL overrides from the registry, by the program's
// file name (the WINEDLLOVERRIDES of a started program's environment block
// is not read). The programs started here get names of their own, so no
// other program of the prefix is touched. The uninstaller's copy gets a
// name nobody knows in advance: for it the late DLLs are made native-first
// for every program of the prefix (an empty name), which loads a planted
// copy only where one lies on a program's search path.
class NativeFirst {
public:
    explicit NativeFirst(const std::wstring& program)
        : tree_(program.empty() ? L"" : L"Software\\Wine\\AppDefaults\\" + program),
          key_(program.empty() ? L"Software\\Wine\\DllOverrides" : tree_ + L"\\DllOverrides")
    {
        HKEY overrides = nullptr;
        ok_ = RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &overrides, nullptr) == ERROR_SUCCESS;
        static const wchar_t ORDER[] = L"native,builtin";
        for (const wchar_t* name : LATE_DLLS)
            ok_ = ok_ && RegSetValueExW(overrides, name, 0, REG_SZ, (const BYTE*)ORDER,
                                        sizeof ORDER) == ERROR_SUCCESS;
        if (overrides) RegCloseKey(overrides);
    }
    ~NativeFirst()
    {
        if (!tree_.empty()) RegDeleteTreeW(HKEY_CURRENT_USER, tree_.c_str());
        else
            for (const wchar_t* name : LATE_DLLS) RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), name);
    }
    bool ok() const { return ok_; }

private:
    std::wstring tree_, key_;
    bool ok_ = false;
};

std::vector<std::wstring> Markers(const std::wstring& folder)
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + L"\\*.loaded").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return found;
    do found.push_back(data.cFileName);
    while (FindNextFileW(search, &data));
    FindClose(search);
    return found;
}

std::string Joined(const std::vector<std::wstring>& items)
{
    std::string text;
    for (const std::wstring& item : items) text += (text.empty() ? "" : ", ") + ui::Narrow(item);
    return text.empty() ? "none" : text;
}

void Plant(const std::wstring& folder)
{
    std::wstring marker = ui::HostPath(MARKER_DLL);
    for (const wchar_t* const* names : {LATE_DLLS, EARLY_DLLS})
        for (size_t i = 0; i < (names == LATE_DLLS ? std::size(LATE_DLLS) : std::size(EARLY_DLLS)); ++i)
            ASSERT_TRUE(CopyFileW(marker.c_str(), (folder + L"\\" + names[i] + L".dll").c_str(), FALSE));
}

// A download folder with setup.exe and the planted DLLs, a temporary folder
// with them too, and the folder the markers go to.
class PlantedFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = TestRoot() + L"\\" + UniqueName(L"safeload");
        folder_ = root_ + L"\\Downloads";
        temp_ = root_ + L"\\Temp";
        marks_ = root_ + L"\\marks";
        for (const std::wstring& folder : {root_, folder_, temp_, marks_})
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_NO_FATAL_FAILURE(Plant(folder_));
        ASSERT_NO_FATAL_FAILURE(Plant(temp_));
    }

    void TearDown() override { RemoveTree(root_); }

    // The planted temporary folder is the one every program started here
    // gets.
    std::vector<ui::EnvChange> Environment() const
    {
        return {{MARKER_VARIABLE, marks_}, {L"TEMP", temp_}, {L"TMP", temp_}, NoHostMenus()};
    }

    // A file name of this run's own, for the program copied into the folder.
    static std::wstring OwnName(const wchar_t* stem)
    {
        return std::wstring(stem) + L"-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    }

    // Runs this program as the probe, copied into folder under name and
    // started in currentDirectory; the planted copies that ran.
    std::vector<std::wstring> Probe(const std::wstring& folder, const std::wstring& name,
                                    const std::wstring& currentDirectory)
    {
        std::wstring probe = folder + L"\\" + name;
        wchar_t self[MAX_PATH] = L"";
        EXPECT_TRUE(GetModuleFileNameW(nullptr, self, MAX_PATH));
        EXPECT_TRUE(CopyFileW(self, probe.c_str(), FALSE));
        std::wstring names;
        for (const wchar_t* dll : LATE_DLLS) names += (names.empty() ? L"" : L",") + std::wstring(dll) + L".dll";
        ui::Launch launch;
        launch.program = probe;
        launch.currentDirectory = currentDirectory;
        launch.environment = Environment();
        launch.environment.push_back({PROBE_VARIABLE, names});
        ui::Process process;
        std::wstring error;
        EXPECT_TRUE(ui::Start(launch, &process, &error)) << ui::Narrow(error);
        DWORD probeCode = 1;
        EXPECT_TRUE(ui::WaitForExit(process, ui::WAIT_MS, &probeCode));
        EXPECT_EQ(probeCode, 0u) << "the probe failed";
        std::vector<std::wstring> found = Markers(marks_);
        for (std::wstring& marker : found) {
            DeleteFileW((marks_ + L"\\" + marker).c_str());
            marker = Lower(marker);
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    std::wstring root_, folder_, temp_, marks_;
};

// The shell's folder picker, a dialog of the process owned by page.
HWND WaitForPicker(DWORD processId, HWND page)
{
    HWND picker = nullptr;
    ui::WaitUntil([&] {
        for (HWND window : ui::TopLevelWindows(processId))
            if (ui::ClassName(window) == L"#32770" && GetWindow(window, GW_OWNER) == page) {
                picker = window;
                return true;
            }
        return false;
    });
    return picker;
}

bool SetTicked(HWND page, int id, bool ticked)
{
    if ((ui::CheckState(page, id) == BST_CHECKED) != ticked && !ui::ClickNow(page, id)) return false;
    return (ui::CheckState(page, id) == BST_CHECKED) == ticked;
}

}  // namespace

// Without this the clean runs below would prove nothing: a program that
// loads these DLLs by name, with the search as Windows leaves it, takes
// every planted copy from its own folder: a download folder, an
// installation folder, the temporary folder.
TEST_F(PlantedFolder, AnUnprotectedLoadByNameTakesThePlantedCopies)
{
    std::vector<std::wstring> expected;
    for (const wchar_t* name : LATE_DLLS) expected.push_back(std::wstring(name) + L".dll.loaded");
    std::sort(expected.begin(), expected.end());
    {
        const std::wstring name = OwnName(L"probe");
        NativeFirst order(name);
        ASSERT_TRUE(order.ok());
        EXPECT_EQ(Probe(folder_, name, folder_), expected) << "from its own folder";
    }
    // Where the uninstaller's copy used to run from.
    NativeFirst everyProgram(L"");
    ASSERT_TRUE(everyProgram.ok());
    EXPECT_EQ(Probe(temp_, OwnName(L"probe"), temp_), expected) << "from the temporary folder";
}

// Each defence is needed: with COMCTL32 loaded by its bare name the planted
// copy is taken (and the folder picker dies on its missing exports); with
// the search left as it is, the planted UXTHEME comes in with the system's
// COMCTL32.
TEST_F(PlantedFolder, SetupRunsNoPlantedCopyThroughTheWholeWizard)
{
    const std::wstring installFolder = TestRoot() + L"\\" + UniqueName(L"safeload-inst");
    const std::wstring group = UniqueName(L"Safeload");
    const std::wstring groupFolder = SpecialFolder(CSIDL_PROGRAMS) + L"\\" + group;
    const std::wstring desktopLink = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\Murmelist.lnk";
    const std::wstring startupLink = SpecialFolder(CSIDL_STARTUP) + L"\\Murmelist.lnk";
    DeleteFileW(desktopLink.c_str());
    DeleteFileW(startupLink.c_str());
    // Whatever the run leaves when a check fails half-way (the setup itself
    // is ended first: it is declared after this).
    struct Cleanup {
        std::function<void()> run;
        ~Cleanup() { run(); }
    } cleanup{[&] {
        RemoveTree(installFolder);
        RemoveTree(groupFolder);
        DeleteFileW(desktopLink.c_str());
        DeleteFileW(startupLink.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY);
    }};
    auto ran = [&] { return "; planted copies that ran: " + Joined(Markers(marks_)); };

    const std::wstring name = OwnName(L"setup");
    NativeFirst order(name);
    ASSERT_TRUE(order.ok());
    ui::Process setup;
    ui::Launch launch;
    launch.program = folder_ + L"\\" + name;
    ASSERT_TRUE(CopyFileW(SetupExe().c_str(), launch.program.c_str(), FALSE));
    // Started from inside the download folder, as a double click does.
    launch.currentDirectory = folder_;
    launch.environment = Environment();
    std::wstring error;
    ASSERT_TRUE(ui::Start(launch, &setup, &error)) << ui::Narrow(error);
    HWND welcome = ui::WaitForPage(setup.id, WELCOME);
    ASSERT_TRUE(welcome) << "setup did not start" << ran();
    HWND destination = WalkToDestination(setup, welcome);
    ASSERT_TRUE(destination) << ran();

    // The folder picker: the shell, its tree view and whatever they load.
    ASSERT_TRUE(ui::Click(destination, IDC_BROWSE));
    HWND picker = WaitForPicker(setup.id, destination);
    ASSERT_TRUE(picker) << "the folder picker did not open" << ran();
    ASSERT_TRUE(ui::WaitUntil([&] { return ui::IsEnabled(picker, IDCANCEL); }, 3000));
    ASSERT_TRUE(ui::Click(picker, IDCANCEL));
    ASSERT_TRUE(ui::WaitForGone(picker)) << ran();

    HWND groupPage = WalkToGroup(setup, destination, installFolder);
    ASSERT_TRUE(groupPage) << ran();
    ASSERT_TRUE(ui::SetControlText(groupPage, IDC_GROUP_NAME, group));
    HWND finish = PressAndWaitFor(setup, groupPage, IDC_NEXT, FINISH, INSTALL_MS);
    ASSERT_TRUE(finish) << ran();

    ASSERT_TRUE(SetTicked(finish, IDC_DESKTOP_LINK, true));
    ASSERT_TRUE(SetTicked(finish, IDC_STARTUP_LINK, true));
    ASSERT_TRUE(SetTicked(finish, IDC_RUN_PROGRAM, false));
    ASSERT_TRUE(SetTicked(finish, IDC_ASSOCIATE, false));
    ASSERT_TRUE(ui::Click(finish, IDC_NEXT));
    DWORD code = 1;
    ASSERT_TRUE(ui::WaitForExit(setup, INSTALL_MS, &code)) << ran();
    EXPECT_EQ(code, 0u);

    EXPECT_EQ(Markers(marks_), std::vector<std::wstring>()) << ran();

    // The shell's link object still works with the search restricted.
    const std::wstring target = installFolder + L"\\murmlist.exe";
    for (const std::wstring& link : {desktopLink, startupLink, groupFolder + L"\\Murmelist.lnk"}) {
        SCOPED_TRACE(ui::Narrow(link));
        Shortcut shortcut = ReadShortcut(link);
        ASSERT_TRUE(shortcut.read) << "no shortcut";
        EXPECT_TRUE(SamePath(shortcut.target, target)) << ui::Narrow(shortcut.target);
    }

    std::wstring report;
    EXPECT_TRUE(RunUninstaller(installFolder, root_ + L"\\uninstall-report.txt", &report));
    EXPECT_EQ(report, L"");
    EXPECT_FALSE(Exists(desktopLink));
    EXPECT_FALSE(Exists(startupLink));
}

// The uninstaller, started from its entry: the original in the installation
// folder and its copy, which works in the temporary folder, each with the
// DLLs planted there, native-first for every program. It asks and reports
// in boxes, which bring in the late DLLs, and reads shortcuts through the
// shell. The planted files themselves are not the installation's, and stay.
TEST_F(PlantedFolder, TheUninstallerRunsNoPlantedCopyFromItsFolderOrTheTemporaryFolder)
{
    Places places(L"safeload-uninst");
    struct Cleanup {
        const Places& places;
        ~Cleanup() { places.Clear(); }
    } cleanup{places};
    {
        ui::Process setup;
        HWND finish = Install(setup, StartSetup(&setup), places.folder, places.group);
        ASSERT_TRUE(finish);
        CloseFinish(setup, finish, {IDC_STARTUP_LINK, IDC_DESKTOP_LINK, IDC_ASSOCIATE}, false);
    }
    ASSERT_NO_FATAL_FAILURE(Plant(places.folder));
    NativeFirst everyProgram(L"");
    ASSERT_TRUE(everyProgram.ok());
    auto ran = [&] { return "; planted copies that ran: " + Joined(Markers(marks_)); };

    ui::Launch launch;
    launch.program = EntryFolder() + L"\\uninst.exe";
    launch.currentDirectory = L"C:\\";
    launch.environment = Environment();
    ui::Process original, copy;
    std::wstring error;
    ASSERT_TRUE(ui::Start(launch, &original, &error)) << ui::Narrow(error);
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(original.id, &box)) << "no question" << ran();
    ASSERT_TRUE(ui::Answer(box.window, IDYES));
    const std::wstring stem = temp_ + L"\\murm-uninst-" + std::to_wstring(original.id) + L"-";
    bool reported = ui::WaitUntil(
        [&] {
            for (HWND window : ui::TopLevelWindows(0)) {
                DWORD id = ui::WindowProcess(window);
                if (ui::ProcessImage(id).rfind(stem, 0) != 0) continue;
                if (!copy.handle) {
                    copy.id = id;
                    copy.handle = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
                }
                HWND found = ui::FindMessageBox(id);
                return found && ui::ReadWholeMessageBox(found, &box) && ui::Answer(found, IDOK);
            }
            return false;
        },
        INSTALL_MS);
    ASSERT_TRUE(reported) << "the copy never reported from " << ui::Narrow(stem) << ran();
    ASSERT_TRUE(ui::WaitForExit(copy, ui::WAIT_MS, nullptr));

    EXPECT_EQ(Markers(marks_), std::vector<std::wstring>()) << ran();
    // Only the folder with the planted files stays, and nothing of the
    // uninstaller in the temporary folder.
    EXPECT_EQ(places.Present(), std::vector<std::wstring>{places.folder}) << Listed(places.Present());
    EXPECT_NE(box.text.find(places.folder), std::wstring::npos) << ui::Narrow(box.text);
    // The copy's file goes as its last handle closes, once it has ended.
    EXPECT_TRUE(ui::WaitUntil([&] { return EntriesStartingWith(temp_, L"murm-uninst-").empty(); }, 5000))
        << Listed(EntriesStartingWith(temp_, L"murm-uninst-"));
}
