// The uninstall entry and the ".vdb" file type, read back from the
// registry, with the log sections that describe them.
#include <gtest/gtest.h>

#include "actions_support.h"
#include "core/texts.h"

namespace {

struct Value {
    bool found = false;
    DWORD type = 0;
    DWORD size = 0;
    std::string data;  // without the terminating NUL
};

Value ReadValue(HKEY root, const std::string& key, const char* name)
{
    Value value;
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return value;
    char data[1024] = "";
    DWORD size = sizeof data;
    if (RegQueryValueExA(opened, name, 0, &value.type, (BYTE*)data, &size) == ERROR_SUCCESS) {
        value.found = true;
        value.size = size;
        value.data = data;
    }
    RegCloseKey(opened);
    return value;
}

struct KeyCounts {
    bool found = false;
    DWORD subKeys = 0;
    DWORD values = 0;
};

KeyCounts CountKey(HKEY root, const std::string& key)
{
    KeyCounts counts;
    HKEY opened;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return counts;
    counts.found = RegQueryInfoKeyA(opened, 0, 0, 0, &counts.subKeys, 0, 0, &counts.values, 0, 0,
                                    0, 0) == ERROR_SUCCESS;
    RegCloseKey(opened);
    return counts;
}

void ExpectString(HKEY root, const std::string& key, const char* name, const std::string& data)
{
    Value value = ReadValue(root, key, name);
    ASSERT_TRUE(value.found) << key << " " << (name ? name : "(default)");
    EXPECT_EQ(value.type, (DWORD)REG_SZ);
    EXPECT_EQ(value.data, data);
    EXPECT_EQ(value.size, data.size() + 1) << "stored with its NUL";
}

// A key below which no lasting key can be made: the system refuses a
// non-volatile key under a volatile one.
void MakeVolatileKey(HKEY root, const std::string& path)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, 0, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, 0,
                              &key, 0),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Every key or value that cannot be written is reported by its key, with
// Retry and Cancel.
void ExpectAsked(const SeenBox& box, const char* problem, const std::string& key)
{
    EXPECT_EQ(box.caption, Wide("Ошибка"));
    EXPECT_EQ(box.text, Wide(std::string(problem) + key));
    EXPECT_EQ(box.buttons, (std::vector<int>{IDCANCEL, IDRETRY}));
}

const char* const CANNOT_MAKE_KEY = "Невозможно создать раздел реестра\n";
const char* const CANNOT_SET_VALUE = "Невозможно записать в раздел реестра\n";

const char* const INSTALL_FOLDER = "C:\\Program Files\\Murmelist";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = MakeScratchFolder("registry");
        log = folder + "\\setup.log";
        lstrcpyA(g_setup.logPath, log.c_str());
        lstrcpyA(g_setup.installFolder, INSTALL_FOLDER);
        g_setup.uninstallerName = "uninst.exe";
    }
    void TearDown() override { RemoveTree(folder); }
    std::string folder;
    std::string log;
};

class UninstallEntryTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        // A name of its own, so that a real installation's entry is left alone.
        name = "MurmelistActionsTest-" + std::to_string(GetCurrentProcessId());
        key = std::string(UNINSTALL_KEY) + "\\" + name;
        g_setup.displayName = name.c_str();
        // The entry names only an uninstaller that is there.
        lstrcpyA(g_setup.installFolder, folder.c_str());
        WriteWholeFile(folder + "\\uninst.exe", "the uninstaller");
    }
    void TearDown() override
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
        RegistryTest::TearDown();
    }
    std::string name;
    std::string key;
};

TEST_F(UninstallEntryTest, NamesTheQuotedUninstallerAndLogsItOnce)
{
    std::vector<std::string> expected = {
        "[RegUninst]",
        "n=3",
        "Dir=SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
        "SubKey=" + name,
        "Key1=DisplayName",
        "Key2=UninstallString",
    };
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        RegisterUninstall();
        ExpectString(HKEY_LOCAL_MACHINE, key, "DisplayName", name);
        ExpectString(HKEY_LOCAL_MACHINE, key, "UninstallString",
                     "\"" + folder + "\\uninst.exe\"");
        KeyCounts counts = CountKey(HKEY_LOCAL_MACHINE, key);
        EXPECT_EQ(counts.values, 2u);
        EXPECT_EQ(counts.subKeys, 0u);
        EXPECT_EQ(ReadLogLines(log), expected);
    }
}

TEST_F(UninstallEntryTest, AnEntryThatCannotBeWrittenIsAskedAboutAndNeverLeftHalfMade)
{
    {
        SCOPED_TRACE("a key that cannot be made: Cancel, then Retry once it can");
        MakeVolatileKey(HKEY_LOCAL_MACHINE, key);
        std::string entry = name + "\\entry";
        g_setup.displayName = entry.c_str();
        {
            BoxAnswerer cancel({IDCANCEL});
            RegisterUninstall();
            ASSERT_EQ(cancel.Seen().size(), 1u);
            ExpectAsked(cancel.Seen()[0], CANNOT_MAKE_KEY,
                        "HKEY_LOCAL_MACHINE\\" + key + "\\entry");
        }
        EXPECT_EQ(CountKey(HKEY_LOCAL_MACHINE, key).subKeys, 0u);
        EXPECT_TRUE(ReadLogLines(log).empty()) << "an entry never made is logged";
        {
            BoxAnswerer retry({IDRETRY},
                              [&](size_t) { RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()); });
            RegisterUninstall();
            EXPECT_EQ(retry.Seen().size(), 1u);
        }
        ExpectString(HKEY_LOCAL_MACHINE, key + "\\entry", "DisplayName", entry);
        EXPECT_EQ(LogSection(ReadLogLines(log), "RegUninst").size(), 5u);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
        g_setup.displayName = name.c_str();
    }
    {
        SCOPED_TRACE("no uninstaller to name: no entry, no question, and one item missing");
        DeleteFileA(log.c_str());
        DeleteFileA((folder + "\\uninst.exe").c_str());
        g_setup.missingCount = 0;
        BoxAnswerer none({});
        RegisterUninstall();
        EXPECT_TRUE(none.Seen().empty());
        EXPECT_EQ(g_setup.missingCount, 1);
        EXPECT_FALSE(CountKey(HKEY_LOCAL_MACHINE, key).found);
        EXPECT_TRUE(ReadLogLines(log).empty());
    }
    {
        SCOPED_TRACE("a name too long for its key's path: likewise, and no value above it");
        WriteWholeFile(folder + "\\uninst.exe", "the uninstaller");
        std::string longName(1000, 'n');
        g_setup.displayName = longName.c_str();
        g_setup.missingCount = 0;
        BoxAnswerer none({});
        RegisterUninstall();
        EXPECT_TRUE(none.Seen().empty());
        EXPECT_EQ(g_setup.missingCount, 1);
        EXPECT_TRUE(ReadLogLines(log).empty());
        for (const std::string& above : {std::string(), std::string(UNINSTALL_KEY)}) {
            EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, above, "DisplayName").found) << above;
            EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, above, "UninstallString").found) << above;
        }
        g_setup.displayName = name.c_str();
    }
}

TEST_F(UninstallEntryTest, EmptyDisplayNameNeverTouchesTheUninstallList)
{
    g_setup.displayName = "";
    RegisterUninstall();
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString").found);
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayName").found);
    // A log naming the Uninstall key itself would have the uninstaller
    // remove every program's entry.
    EXPECT_TRUE(ReadLogLines(log).empty());
}

class FileTypeTest : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        RemoveKeys();
    }
    void TearDown() override
    {
        RemoveKeys();
        RegistryTest::TearDown();
    }
    static void RemoveKeys()
    {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, FILE_CLASS);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, FILE_EXTENSION);
    }
};

TEST_F(FileTypeTest, OpensQuotedAndLogsEveryKeyBeforeItsParent)
{
    std::vector<std::string> expected = {
        "[RegClass]",
        "n=6",
        "Dir1=",
        "Sub1=.vdb",
        "Dir6=",
        "Sub6=VarazAzadEvuz",
        "Sub5=DefaultIcon",
        "Dir4=VarazAzadEvuz",
        "Dir5=VarazAzadEvuz",
        "Sub4=shell",
        "Dir3=VarazAzadEvuz\\shell",
        "Sub3=open",
        "Dir2=VarazAzadEvuz\\shell\\open",
        "Sub2=command",
    };
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        RegisterFileType();
        ExpectString(HKEY_CLASSES_ROOT, ".vdb", 0, "VarazAzadEvuz");
        ExpectString(HKEY_CLASSES_ROOT, "VarazAzadEvuz\\DefaultIcon", 0,
                     "C:\\Program Files\\Murmelist\\murmlist.exe,1");
        ExpectString(HKEY_CLASSES_ROOT, "VarazAzadEvuz\\shell\\open\\command", 0,
                     "\"C:\\Program Files\\Murmelist\\murmlist.exe\" \"%1\"");

        // Exactly the six keys, each with only the values above.
        struct {
            const char* key;
            DWORD subKeys, values;
        } keys[] = {
            {".vdb", 0, 1},
            {"VarazAzadEvuz", 2, 0},
            {"VarazAzadEvuz\\DefaultIcon", 0, 1},
            {"VarazAzadEvuz\\shell", 1, 0},
            {"VarazAzadEvuz\\shell\\open", 1, 0},
            {"VarazAzadEvuz\\shell\\open\\command", 0, 1},
        };
        for (const auto& k : keys) {
            KeyCounts counts = CountKey(HKEY_CLASSES_ROOT, k.key);
            EXPECT_TRUE(counts.found) << k.key;
            EXPECT_EQ(counts.subKeys, k.subKeys) << k.key;
            EXPECT_EQ(counts.values, k.values) << k.key;
        }
        EXPECT_EQ(ReadLogLines(log), expected);
    }
}

// The quoted command is longer than a path; a folder that leaves room for
// every installed path gets its values whole.
TEST_F(FileTypeTest, TheDeepestFolderGetsWholeValuesAndADeeperOneIsAskedAbout)
{
    std::string fits = "C:\\" + std::string(246 - 3, 'f');
    lstrcpyA(g_setup.installFolder, fits.c_str());
    RegisterFileType();
    ExpectString(HKEY_CLASSES_ROOT, "VarazAzadEvuz\\DefaultIcon", 0, fits + "\\murmlist.exe,1");
    ExpectString(HKEY_CLASSES_ROOT, "VarazAzadEvuz\\shell\\open\\command", 0,
                 "\"" + fits + "\\murmlist.exe\" \"%1\"");
    EXPECT_EQ(LogSection(ReadLogLines(log), "RegClass").size(), 13u);

    RemoveKeys();
    DeleteFileA(log.c_str());
    lstrcpyA(g_setup.installFolder, (fits + "ff").c_str());
    BoxAnswerer cancel({IDCANCEL});
    RegisterFileType();
    ASSERT_EQ(cancel.Seen().size(), 1u);
    ExpectAsked(cancel.Seen()[0], CANNOT_SET_VALUE, "HKEY_CLASSES_ROOT\\VarazAzadEvuz\\DefaultIcon");
    EXPECT_FALSE(CountKey(HKEY_CLASSES_ROOT, FILE_CLASS).found) << "keys left without values";
    EXPECT_FALSE(CountKey(HKEY_CLASSES_ROOT, FILE_EXTENSION).found);
    EXPECT_TRUE(ReadLogLines(log).empty());
}

// The user's .vdb files open with another program. A file type that cannot
// be completed leaves them so; Retry, once it can be, completes it.
TEST_F(FileTypeTest, AKeyThatCannotBeMadeIsAskedAboutAndTheOldTypeStays)
{
    HKEY extension;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, FILE_EXTENSION, 0, 0, 0, KEY_ALL_ACCESS, 0,
                              &extension, 0),
              ERROR_SUCCESS);
    RegSetValueExA(extension, 0, 0, REG_SZ, (const BYTE*)"Other.File", 11);
    RegCloseKey(extension);
    MakeVolatileKey(HKEY_CLASSES_ROOT, FILE_CLASS);

    {
        BoxAnswerer cancel({IDCANCEL});
        RegisterFileType();
        ASSERT_EQ(cancel.Seen().size(), 1u);
        ExpectAsked(cancel.Seen()[0], CANNOT_MAKE_KEY,
                    "HKEY_CLASSES_ROOT\\VarazAzadEvuz\\DefaultIcon");
    }
    ExpectString(HKEY_CLASSES_ROOT, FILE_EXTENSION, 0, "Other.File");
    EXPECT_EQ(CountKey(HKEY_CLASSES_ROOT, FILE_CLASS).subKeys, 0u);
    EXPECT_TRUE(ReadLogLines(log).empty()) << "a file type never made is logged";
    {
        BoxAnswerer retry({IDRETRY}, [](size_t) { RegDeleteKeyA(HKEY_CLASSES_ROOT, FILE_CLASS); });
        RegisterFileType();
        EXPECT_EQ(retry.Seen().size(), 1u);
    }
    ExpectString(HKEY_CLASSES_ROOT, FILE_EXTENSION, 0, "VarazAzadEvuz");
    ExpectString(HKEY_CLASSES_ROOT, "VarazAzadEvuz\\shell\\open\\command", 0,
                 "\"C:\\Program Files\\Murmelist\\murmlist.exe\" \"%1\"");
    EXPECT_EQ(LogSection(ReadLogLines(log), "RegClass").size(), 13u);
}

}  // namespace
