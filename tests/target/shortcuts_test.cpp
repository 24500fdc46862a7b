// The program group and the extra shortcuts, read back through the shell's
// link object. The group's links come from setup.exe's own resources.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "actions_support.h"

namespace {

const GUID ShellLinkClass =
    {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID ShellLinkInterface =
    {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID PersistFileInterface =
    {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

const char* const UNINSTALL_LINK = "Удалить Murmelist.lnk";

struct LinkInfo {
    bool loaded = false;
    std::string target;
    std::string workingDirectory;
};

LinkInfo ReadLink(const std::string& path)
{
    LinkInfo info;
    IShellLinkA* link = 0;
    IPersistFile* file = 0;
    if (FAILED(CoCreateInstance(ShellLinkClass, 0, CLSCTX_INPROC_SERVER, ShellLinkInterface,
                                (void**)&link)))
        return info;
    if (SUCCEEDED(link->QueryInterface(PersistFileInterface, (void**)&file)) &&
        SUCCEEDED(file->Load(Wide(path).c_str(), STGM_READ))) {
        char text[MAX_PATH] = "";
        link->GetPath(text, MAX_PATH, 0, SLGP_RAWPATH);
        info.target = text;
        text[0] = 0;
        link->GetWorkingDirectory(text, MAX_PATH);
        info.workingDirectory = text;
        info.loaded = true;
    }
    if (file)
        file->Release();
    link->Release();
    return info;
}

std::string ShellFolder(int id)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(0, id, 0, SHGFP_TYPE_CURRENT, path);
    return path;
}

uint32_t SizeOf(const std::string& path)
{
    return (uint32_t)ReadWholeFile(path).value_or("").size();
}

// The package's setup.exe, whose resources LockDataResource reads through
// g_setup.instance.
HMODULE LoadPackage()
{
    std::string path = "Z:" SETUP_EXE;
    std::replace(path.begin(), path.end(), '/', '\\');
    return LoadLibraryExA(path.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
}

class ShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        OleInitialize(0);
        package = LoadPackage();
        ASSERT_TRUE(package) << "cannot load " SETUP_EXE " as a data file";
        g_setup.instance = package;
        LoadSetupStrings();
        folder = MakeScratchFolder("links");
        WriteWholeFile(folder + "\\murmlist.exe", "program");
        WriteWholeFile(folder + "\\uninst.exe", "uninstaller");
        lstrcpyA(g_setup.installFolder, folder.c_str());
        lstrcpyA(g_setup.logPath, (folder + "\\setup.log").c_str());
        unique = "ActionsTest-" + std::to_string(GetCurrentProcessId());
        lstrcpyA(g_setup.groupName, unique.c_str());
        g_setup.groupFolder[0] = 0;
        g_setup.linkCount = 0;
        programs = ShellFolder(CSIDL_PROGRAMS);
        ASSERT_FALSE(programs.empty());
    }
    void TearDown() override
    {
        for (const std::string& path : cleanup)
            RemoveTree(path);
        RemoveTree(folder);
        g_setup.instance = 0;
        if (package)
            FreeLibrary(package);
    }

    std::vector<std::string> Links() { return LogSection(ReadLogLines(folder + "\\setup.log"), "Links"); }

    void ExpectLinkTo(const std::string& link, const std::string& target)
    {
        LinkInfo info = ReadLink(link);
        ASSERT_TRUE(info.loaded) << link;
        EXPECT_EQ(lstrcmpiA(info.target.c_str(), (folder + "\\" + target).c_str()), 0)
            << info.target;
        EXPECT_EQ(lstrcmpiA(info.workingDirectory.c_str(), folder.c_str()), 0)
            << info.workingDirectory;
    }

    HMODULE package = 0;
    std::string folder;
    std::string unique;
    std::string programs;
    std::vector<std::string> cleanup;
};

TEST_F(ShortcutsTest, GroupGetsThePackagesShortcuts)
{
    CreateGroupFolder();
    std::string group = programs + "\\" + unique;
    cleanup.push_back(group);
    EXPECT_STREQ(g_setup.groupFolder, group.c_str());
    ASSERT_TRUE(IsFolder(group));

    CreateGroupShortcuts();
    std::string first = group + "\\Murmelist.lnk";
    std::string second = group + "\\" + UNINSTALL_LINK;
    ExpectLinkTo(first, "murmlist.exe");
    ExpectLinkTo(second, "uninst.exe");
    EXPECT_EQ(g_setup.linkCount, 2);
    uint32_t size = SizeOf(first) + SizeOf(second);
    EXPECT_GT(size, 0u);
    std::vector<std::string> expected = {
        "n=2", "Link1=" + first, "Link2=" + second, "Dir=" + group,
        "size=" + std::to_string(size)};
    EXPECT_EQ(Links(), expected);
}

TEST_F(ShortcutsTest, ExistingGroupFolderIsReusedAndItsLinksReplaced)
{
    std::string group = programs + "\\" + unique;
    cleanup.push_back(group);
    CreateDirectoryA(group.c_str(), 0);
    WriteWholeFile(group + "\\keep.txt", "the user's");
    WriteWholeFile(group + "\\Murmelist.lnk", "not a shortcut");

    CreateGroupFolder();
    CreateGroupShortcuts();
    EXPECT_EQ(ReadWholeFile(group + "\\keep.txt"), "the user's");
    ExpectLinkTo(group + "\\Murmelist.lnk", "murmlist.exe");
    std::vector<std::string> links = Links();
    ASSERT_EQ(links.size(), 5u);
    EXPECT_EQ(links[4], "size=" + std::to_string(SizeOf(group + "\\Murmelist.lnk") +
                                                 SizeOf(group + "\\" + UNINSTALL_LINK)));
}

TEST_F(ShortcutsTest, EmptyGroupNamePutsTheShortcutsIntoPrograms)
{
    g_setup.groupName[0] = 0;
    std::string first = programs + "\\Murmelist.lnk";
    std::string second = programs + "\\" + UNINSTALL_LINK;
    cleanup.push_back(first);
    cleanup.push_back(second);

    CreateGroupFolder();
    EXPECT_EQ(std::string(g_setup.groupFolder), programs + "\\");
    CreateGroupShortcuts();
    ExpectLinkTo(first, "murmlist.exe");
    ExpectLinkTo(second, "uninst.exe");
    std::vector<std::string> links = Links();
    ASSERT_EQ(links.size(), 5u);
    EXPECT_EQ(links[3], "Dir=" + programs + "\\");
    // The logged paths name the files in Programs itself.
    char full[MAX_PATH];
    GetFullPathNameA(links[1].substr(6).c_str(), MAX_PATH, full, 0);
    EXPECT_EQ(lstrcmpiA(full, first.c_str()), 0) << links[1];
    GetFullPathNameA(links[2].substr(6).c_str(), MAX_PATH, full, 0);
    EXPECT_EQ(lstrcmpiA(full, second.c_str()), 0) << links[2];
}

TEST_F(ShortcutsTest, StartupAndDesktopContinueTheNumbering)
{
    std::string group = programs + "\\" + unique;
    std::string startup = ShellFolder(CSIDL_STARTUP) + "\\" + unique + ".lnk";
    std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\" + unique + ".lnk";
    cleanup = {group, startup, desktop};
    CreateGroupFolder();
    CreateGroupShortcuts();
    std::vector<std::string> before = Links();

    AddExtraShortcut(CSIDL_STARTUP, unique.c_str(), "murmlist.exe");
    AddExtraShortcut(CSIDL_DESKTOPDIRECTORY, unique.c_str(), "uninst.exe");
    EXPECT_EQ(g_setup.linkCount, 4);
    ExpectLinkTo(startup, "murmlist.exe");
    ExpectLinkTo(desktop, "uninst.exe");
    // n is rewritten where it stands; Dir and size are left alone.
    ASSERT_EQ(before.size(), 5u);
    std::vector<std::string> expected = {
        "n=4", before[1], before[2], before[3], before[4],
        "Link3=" + startup, "Link4=" + desktop};
    EXPECT_EQ(Links(), expected);
}

// Every shortcut or group folder that cannot be made is reported by its
// path, with Retry and Cancel; Cancel leaves nothing logged for it.
const char* const CANNOT_MAKE_LINK = "Невозможно создать ярлык\n";
const char* const CANNOT_CREATE_DIR = "Невозможно создать каталог\n";

void ExpectAsked(const SeenBox& box, const std::string& text)
{
    EXPECT_EQ(box.caption, Wide("Ошибка"));
    EXPECT_EQ(box.text, Wide(text));
    EXPECT_EQ(box.buttons, (std::vector<int>{IDCANCEL, IDRETRY}));
}

TEST_F(ShortcutsTest, WhatCannotBeMadeIsAskedAboutAndOnlyWhatWasMadeIsLogged)
{
    std::string group = programs + "\\" + unique;
    std::string first = group + "\\Murmelist.lnk";
    std::string second = group + "\\" + UNINSTALL_LINK;
    std::string startup = ShellFolder(CSIDL_STARTUP) + "\\" + unique + ".lnk";
    std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\" + unique + ".lnk";
    cleanup = {group, startup, desktop};
    // A file where the group goes; folders where two shortcuts go.
    WriteWholeFile(group, "the user's file");
    CreateDirectoryA(startup.c_str(), 0);
    CreateDirectoryA(desktop.c_str(), 0);
    {
        // The group: Retry once the file is gone. Its first shortcut and the
        // Startup one: Cancel. The Desktop one: Retry once the folder is gone.
        BoxAnswerer boxes({IDRETRY, IDCANCEL, IDCANCEL, IDRETRY}, [&](size_t index) {
            if (index == 0)
                DeleteFileA(group.c_str());
            if (index == 3)
                RemoveDirectoryA(desktop.c_str());
        });
        CreateGroupFolder();
        // The first shortcut's place is taken as soon as the group exists.
        CreateDirectoryA(first.c_str(), 0);
        CreateGroupShortcuts();
        AddExtraShortcut(CSIDL_STARTUP, unique.c_str(), "murmlist.exe");
        AddExtraShortcut(CSIDL_DESKTOPDIRECTORY, unique.c_str(), "uninst.exe");
        std::vector<SeenBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), 4u);
        ExpectAsked(seen[0], CANNOT_CREATE_DIR + group);
        ExpectAsked(seen[1], CANNOT_MAKE_LINK + first);
        ExpectAsked(seen[2], CANNOT_MAKE_LINK + startup);
        ExpectAsked(seen[3], CANNOT_MAKE_LINK + desktop);
    }
    EXPECT_STREQ(g_setup.groupFolder, group.c_str());
    EXPECT_TRUE(IsFolder(first)) << "the folder in the shortcut's place is not ours to touch";
    ExpectLinkTo(second, "uninst.exe");
    ExpectLinkTo(desktop, "uninst.exe");
    EXPECT_TRUE(IsFolder(startup));
    // Link1 and the Startup shortcut were never made, so never logged; the
    // Desktop shortcut takes the next number.
    EXPECT_EQ(g_setup.linkCount, 3);
    std::vector<std::string> expected = {
        "n=3", "Link2=" + second, "Dir=" + group, "size=" + std::to_string(SizeOf(second)),
        "Link3=" + desktop};
    EXPECT_EQ(Links(), expected);
}

TEST_F(ShortcutsTest, UnknownSpecialFolderMakesNoShortcut)
{
    char buffer[MAX_PATH] = "stale";
    EXPECT_FALSE(SpecialFolderPath(0x7F, buffer));
    EXPECT_STREQ(buffer, "");
    g_setup.linkCount = 2;
    BoxAnswerer boxes({IDCANCEL});
    AddExtraShortcut(0x7F, unique.c_str(), "murmlist.exe");
    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    ExpectAsked(seen[0], CANNOT_MAKE_LINK + unique + ".lnk");
    EXPECT_EQ(g_setup.linkCount, 2);
    EXPECT_TRUE(Links().empty());
}

TEST_F(ShortcutsTest, LinkPathTooLongIsAskedAboutNotCut)
{
    // Long enough that group\Murmelist.lnk just fits in 259 characters and
    // the longer uninstaller link does not.
    size_t room = 259 - programs.size() - 1 - lstrlenA("\\Murmelist.lnk");
    std::string name(room, 'g');
    lstrcpyA(g_setup.groupName, name.c_str());
    std::string group = programs + "\\" + name;
    cleanup.push_back(group);

    BoxAnswerer boxes({IDRETRY, IDCANCEL});
    CreateGroupFolder();
    CreateGroupShortcuts();
    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 2u) << "Retry must ask again";
    ExpectAsked(seen[1], CANNOT_MAKE_LINK + group + "\\" + UNINSTALL_LINK);
    std::string first = group + "\\Murmelist.lnk";
    ASSERT_EQ(first.size(), 259u);
    ExpectLinkTo(first, "murmlist.exe");
    EXPECT_EQ(ListFolder(group), std::vector<std::string>{"Murmelist.lnk"});
    std::vector<std::string> expected = {
        "n=2", "Link1=" + first, "Dir=" + group, "size=" + std::to_string(SizeOf(first))};
    EXPECT_EQ(Links(), expected);
}

TEST_F(ShortcutsTest, GroupFolderTooLongMakesNoGroup)
{
    std::string name(PATH_SIZE - 1, 'g');
    lstrcpyA(g_setup.groupName, name.c_str());
    BoxAnswerer boxes({IDCANCEL});
    CreateGroupFolder();
    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    ExpectAsked(seen[0], CANNOT_CREATE_DIR + programs + "\\" + name);
    EXPECT_STREQ(g_setup.groupFolder, "");
    CreateGroupShortcuts();
    EXPECT_EQ(g_setup.linkCount, 0);
    for (const std::string& entry : ListFolder(programs))
        EXPECT_NE(entry.substr(0, 8), "gggggggg") << "nothing may be made from a cut name";
    EXPECT_EQ(Links(), (std::vector<std::string>{"n=0", "Dir=", "size=0"}));
}

}  // namespace
