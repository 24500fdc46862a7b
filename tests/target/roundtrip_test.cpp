// The whole life of an installation. The setup's own actions install the
// real package, read from setup.exe's resources, in the order the copying
// and finish pages run them; the product opens a .vdb file through the
// command registered for it; then the installed uninstaller, started by the
// registered uninstall command, must leave nothing behind.
//
// The uninstall entry and the file type keys have fixed names, so this test
// must not run beside another one that writes them.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "actions_support.h"
#include "job_support.h"
#include "core/setup.h"
#include "core/texts.h"
#include "log/setup_log.h"

namespace {

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string RegistryString(HKEY root, const std::string& path, const char* name)
{
    char value[1024] = "";
    DWORD size = sizeof value - 1;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    RegQueryValueExA(key, name, NULL, NULL, (BYTE*)value, &size);
    RegCloseKey(key);
    return value;
}

std::string ShellFolder(int id)
{
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(NULL, path, id, FALSE);
    return path;
}

// The values of the keys in section whose names start with prefix and go on
// with a digit (File1, Link3 ...), in the log's order.
std::vector<std::string> NumberedValues(const std::string& logPath, const char* section,
                                        const std::string& prefix)
{
    std::vector<std::string> values;
    for (const std::string& line : LogSection(ReadLogLines(logPath), section)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos && equals > prefix.size() &&
            lstrcmpiA(line.substr(0, prefix.size()).c_str(), prefix.c_str()) == 0 &&
            isdigit((unsigned char)line[prefix.size()]))
            values.push_back(line.substr(equals + 1));
    }
    return values;
}

const std::string PRODUCT_KEY = std::string(UNINSTALL_KEY) + "\\Murmelist";

class RoundTripTest : public ::testing::Test {
protected:
    std::string temp, unique, install, report;

    void SetUp() override
    {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        temp = folder;
        unique = "RoundTrip " + std::to_string(GetCurrentProcessId());
        // A space in the folder, as in the default C:\Program Files\Murmelist.
        install = temp + "Murmelist " + unique;
        report = temp + unique + " report.txt";
        RemoveTree(install);
        CreateDirectoryA(install.c_str(), NULL);
    }

    void TearDown() override
    {
        RemoveTree(install);
        if (g_setup.groupFolder[0]) RemoveTree(g_setup.groupFolder);
        for (int id : {CSIDL_STARTUP, CSIDL_DESKTOPDIRECTORY})
            DeleteFileA((ShellFolder(id) + "\\Murmelist " + unique + ".lnk").c_str());
        DeleteFileA(report.c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, PRODUCT_KEY.c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, FILE_EXTENSION);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, FILE_CLASS);
    }

    // What the wizard does with its default choices and every finish option
    // ticked, except that the Startup and Desktop shortcuts get names of
    // their own, so that a wizard run elsewhere in the prefix keeps its links.
    void Install()
    {
        std::string setupExe = WindowsPath(SETUP_EXE);
        InitialiseSetupState(LoadLibraryExA(setupExe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(g_setup.instance) << setupExe;
        LoadSetupStrings();
        std::string linkName = "Murmelist " + unique;
        lstrcpyA(g_setup.startupName, linkName.c_str());
        lstrcpyA(g_setup.desktopName, linkName.c_str());
        lstrcpyA(g_setup.installFolder, install.c_str());
        lstrcpyA(g_setup.groupName, linkName.c_str());
        JoinPath(g_setup.logPath, g_setup.installFolder, LOG_FILE_NAME);

        // The copying page makes the installation folder the current one
        // for the product it may start. Not here: under Wine every shortcut
        // saved starts a menu builder that inherits the current folder and
        // holds it for many seconds, and the folder could not be removed.
        // The actions work through full paths and do not need it.
        BoxAnswerer boxes({});  // the setup has nothing to ask here
        HWND page = MakeProgressWindow();
        uint32_t size = 0;
        const unsigned char* payload = LockDataResource(IDR_PAYLOAD, &size);
        ExtractPayload(payload, size, page);
        CreateGroupFolder();
        CreateGroupShortcuts();
        RegisterUninstall();
        AddExtraShortcut(CSIDL_STARTUP, g_setup.startupName, g_setup.startupTarget);
        AddExtraShortcut(CSIDL_DESKTOPDIRECTORY, g_setup.desktopName, g_setup.desktopTarget);
        RegisterFileType();
        DestroyWindow(page);
        EXPECT_TRUE(boxes.Seen().empty());
    }
};

TEST_F(RoundTripTest, UninstallerUndoesEverythingTheSetupDid)
{
    ASSERT_NO_FATAL_FAILURE(Install());
    std::vector<std::string> files = NumberedValues(g_setup.logPath, "Files", "File");
    std::vector<std::string> links = NumberedValues(g_setup.logPath, "Links", "Link");
    std::string group = g_setup.groupFolder;

    // A clean machine afterwards proves nothing unless the setup made it all.
    ASSERT_EQ(files.size(), 6u);
    for (const std::string& file : files) EXPECT_TRUE(PathExists(file.c_str())) << file;
    ASSERT_EQ(links.size(), 4u);
    for (const std::string& link : links) EXPECT_TRUE(PathExists(link.c_str())) << link;
    EXPECT_TRUE(IsFolder(group));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, PRODUCT_KEY));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, FILE_EXTENSION));

    // The product, opened for a document the way Explorer opens it.
    std::string document = install + "\\Base2.vdb";
    std::string open = RegistryString(HKEY_CLASSES_ROOT, FILE_CLASS "\\shell\\open\\command", NULL);
    size_t argument = open.find("%1");
    ASSERT_NE(argument, std::string::npos) << open;
    open.replace(argument, 2, document);
    std::wstring shown;
    RunResult product = RunInJob(open, temp, [&](HANDLE job) {
        if (HWND window = FindJobWindow(job, L"MurmelistMainWindow", L"Murmelist 2.0")) {
            shown = ChildTexts(window);
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
    });
    EXPECT_TRUE(product.finished);
    EXPECT_NE(shown.find(L"Открыт файл:\r\n" + Wide(document)), std::wstring::npos)
        << open;

    // The documents' icon is one the installed product really has.
    std::string icon = RegistryString(HKEY_CLASSES_ROOT, FILE_CLASS "\\DefaultIcon", NULL);
    size_t comma = icon.rfind(',');
    ASSERT_NE(comma, std::string::npos) << icon;
    HICON large = NULL;
    EXPECT_EQ(ExtractIconExA(icon.substr(0, comma).c_str(), atoi(icon.c_str() + comma + 1), &large, NULL, 1), 1u)
        << icon;
    if (large) DestroyIcon(large);

    // The uninstaller, started as the list of installed programs starts it.
    std::string uninstall = RegistryString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "UninstallString");
    ASSERT_FALSE(uninstall.empty());
    RunResult run = RunInJob(uninstall + " /quiet /report:\"" + report + "\"", temp);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(ReadWholeFile(report).value_or("<no report>"), "");

    for (const std::string& file : files) EXPECT_FALSE(PathExists(file.c_str())) << file;
    for (const std::string& link : links) EXPECT_FALSE(PathExists(link.c_str())) << link;
    EXPECT_FALSE(PathExists(group.c_str())) << group;
    EXPECT_FALSE(PathExists(g_setup.logPath));
    EXPECT_FALSE(PathExists(install.c_str()))
        << install << " still holds " << testing::PrintToString(ListFolder(install));
    EXPECT_TRUE(IsFolder(ShellFolder(CSIDL_PROGRAMS)));
    EXPECT_TRUE(IsFolder(ShellFolder(CSIDL_STARTUP)));
    EXPECT_TRUE(IsFolder(ShellFolder(CSIDL_DESKTOPDIRECTORY)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, PRODUCT_KEY));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, FILE_EXTENSION));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, FILE_CLASS));
}

}  // namespace
