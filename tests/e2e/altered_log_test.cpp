// A setup.log that someone changed. An installation folder made below a
// drive's root lets every user of the machine change what is in it, and the
// uninstaller deletes with administrator rights: were it to trust its log,
// anyone could have it delete whatever they liked. After a real
// installation, lines are added to the log that name things outside it; the
// uninstaller, run from its entry, must remove the installation, leave every
// one of those as it was, and name them in its report.
#include "wizard_support.h"

using namespace wiz;

namespace {

const wchar_t NOT_OURS[] = L" (не относится к этой установке)";

void AddToLog(const std::wstring& folder, const wchar_t* section, const std::wstring& key,
              const std::wstring& value)
{
    ASSERT_TRUE(WritePrivateProfileStringW(section, key.c_str(), value.c_str(), (folder + L"\\setup.log").c_str()));
}

void MakeFile(const std::wstring& path)
{
    ASSERT_TRUE(ui::WriteFileBytes(path, "somebody else's")) << ui::Narrow(path);
}

void MakeKey(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    ASSERT_EQ(RegSetKeyValueW(root, path.c_str(), name, REG_SZ, value.c_str(),
                              (DWORD)((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void MakeShortcut(const std::wstring& path, const std::wstring& target)
{
    CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           (void**)&link)));
    link->SetPath(target.c_str());
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file)));
    EXPECT_TRUE(SUCCEEDED(file->Save(path.c_str(), TRUE)));
    file->Release();
    link->Release();
}

// What the changed log names, and how to tell it is still there.
struct Outsider {
    std::wstring reported;  // as the report names it
    HKEY root;              // null for a file or folder
    std::wstring path;
    bool There() const { return root ? RegistryKeyExists(root, path) : Exists(path); }
};

std::vector<std::wstring> ReportLines(const std::wstring& report)
{
    std::vector<std::wstring> lines;
    for (size_t start = 0; start < report.size();) {
        size_t end = report.find(L"\r\n", start);
        if (end == std::wstring::npos) end = report.size();
        lines.push_back(report.substr(start, end - start));
        start = end + 2;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

void InstallAll(const Places& places, const std::vector<int>& options)
{
    ui::Process setup;
    HWND finish = Install(setup, StartSetup(&setup), places.folder, places.group);
    ASSERT_TRUE(finish);
    CloseFinish(setup, finish, options, false);
}

}  // namespace

TEST(AlteredLog, NothingOutsideTheInstallationIsRemovedAndAllOfItIsReported)
{
    Places places(L"altered");
    const std::wstring u = UniqueName(L"outside");
    const std::wstring other = TestRoot() + L"\\" + u + L"-other";
    const std::wstring programs = SpecialFolder(CSIDL_PROGRAMS);
    const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + u;
    const std::wstring type = u + L".File";
    const std::wstring command = type + L"\\shell\\open\\command";
    auto file = [](const std::wstring& path) { return Outsider{path + NOT_OURS, nullptr, path}; };
    auto key = [](HKEY root, const wchar_t* rootName, const std::wstring& path) {
        return Outsider{rootName + path + NOT_OURS, root, path};
    };
    const std::vector<Outsider> outsiders = {
        file(TestRoot() + L"\\" + u + L"-beside.txt"),
        file(SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\" + u + L".txt"),
        file(other + L"\\data.txt"),
        file(other),
        file(SpecialFolder(CSIDL_STARTMENU) + L"\\" + u + L".txt"),
        file(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + u + L".txt"),
        file(programs + L"\\" + u + L".lnk"),
        file(programs + L"\\" + u + L"-group"),
        key(HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE\\", uninstall),
        key(HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT\\", L"." + u),
        key(HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT\\", type),
        key(HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT\\", command),
    };
    struct Cleanup {
        std::function<void()> run;
        ~Cleanup() { run(); }
    } cleanup{[&] {
        places.Clear();
        for (const Outsider& outsider : outsiders)
            if (!outsider.root) RemoveTree(outsider.path);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstall.c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"." + u).c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, type.c_str());
    }};

    ASSERT_NO_FATAL_FAILURE(InstallAll(places, {IDC_STARTUP_LINK, IDC_DESKTOP_LINK, IDC_ASSOCIATE}));
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    for (int i : {0, 1, 2, 4, 5}) ASSERT_NO_FATAL_FAILURE(MakeFile(outsiders[i].path));
    MakeFile(other + L"\\remove.exe");
    MakeFile(other + L"\\viewer.exe");
    // A user's own shortcut, to a program of somebody else's.
    ASSERT_NO_FATAL_FAILURE(MakeShortcut(outsiders[6].path, outsiders[0].path));
    ASSERT_TRUE(CreateDirectoryW(outsiders[7].path.c_str(), nullptr));
    ASSERT_NO_FATAL_FAILURE(MakeKey(HKEY_LOCAL_MACHINE, uninstall, L"UninstallString",
                                    L"\"" + other + L"\\remove.exe\""));
    ASSERT_NO_FATAL_FAILURE(MakeKey(HKEY_CLASSES_ROOT, L"." + u, nullptr, type));
    ASSERT_NO_FATAL_FAILURE(MakeKey(HKEY_CLASSES_ROOT, command, nullptr, L"\"" + other + L"\\viewer.exe\" \"%1\""));

    const std::wstring& folder = places.folder;
    AddToLog(folder, L"Files", L"File90", outsiders[0].path);
    AddToLog(folder, L"Earlier", L"File91", outsiders[1].path);
    AddToLog(folder, L"Earlier", L"File92", outsiders[2].path);
    AddToLog(folder, L"Earlier", L"Dir93", outsiders[3].path);
    AddToLog(folder, L"Links", L"Link90", outsiders[4].path);
    AddToLog(folder, L"Links", L"Link91", outsiders[5].path);
    AddToLog(folder, L"Links", L"Link92", outsiders[6].path);
    AddToLog(folder, L"Earlier", L"Dir94", outsiders[7].path);
    AddToLog(folder, L"Earlier", L"Key95", u);
    AddToLog(folder, L"RegClass", L"n", L"9");
    AddToLog(folder, L"RegClass", L"Dir7", L"");
    AddToLog(folder, L"RegClass", L"Sub7", L"." + u);
    AddToLog(folder, L"RegClass", L"Dir8", L"");
    AddToLog(folder, L"RegClass", L"Sub8", type);
    AddToLog(folder, L"RegClass", L"Dir9", type + L"\\shell\\open");
    AddToLog(folder, L"RegClass", L"Sub9", L"command");

    std::wstring report;
    ASSERT_TRUE(RunUninstaller(EntryFolder(), TestRoot() + L"\\" + u + L"-report.txt", &report));
    std::vector<std::wstring> expected;
    for (const Outsider& outsider : outsiders) {
        EXPECT_TRUE(outsider.There()) << ui::Narrow(outsider.path) << " was removed";
        expected.push_back(outsider.reported);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ReportLines(report), expected);
    EXPECT_EQ(places.Present(), std::vector<std::wstring>()) << "left:" << Listed(places.Present());
}

// The log's uninstall entry moved to a key of another vendor's, which has
// no uninstall command: it stays, and is named. The product's own entry,
// which the log no longer names, stays too.
TEST(AlteredLog, AKeyOutsideTheUninstallListIsNoEntryOfOurs)
{
    Places places(L"vendor");
    const std::wstring vendor = L"SOFTWARE\\" + UniqueName(L"Vendor");
    struct Cleanup {
        std::function<void()> run;
        ~Cleanup() { run(); }
    } cleanup{[&] {
        places.Clear();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, vendor.c_str());
    }};
    ASSERT_NO_FATAL_FAILURE(InstallAll(places, {}));
    ASSERT_NO_FATAL_FAILURE(MakeKey(HKEY_LOCAL_MACHINE, vendor + L"\\Product", L"Version", L"1.0"));
    AddToLog(places.folder, L"RegUninst", L"Dir", vendor);
    AddToLog(places.folder, L"RegUninst", L"SubKey", L"Product");

    std::wstring report;
    ASSERT_TRUE(RunUninstaller(places.folder, TestRoot() + L"\\" + UniqueName(L"report") + L".txt", &report));
    EXPECT_EQ(report, L"HKEY_LOCAL_MACHINE\\" + vendor + L"\\Product" + NOT_OURS + L"\r\n");
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, vendor + L"\\Product"));
    EXPECT_EQ(places.Present(), std::vector<std::wstring>{std::wstring(L"HKLM\\") + UNINSTALL_ENTRY});
}
