// Writing the payload into a folder: files, questions, retries, the
// [Files] section and the progress the copying page is told about.
#include <gtest/gtest.h>

#include "actions_support.h"
#include "core/texts.h"

namespace {

class ExtractTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = MakeScratchFolder("extract");
        lstrcpyA(g_setup.installFolder, folder.c_str());
        lstrcpyA(g_setup.logPath, (folder + "\\setup.log").c_str());
        g_setup.displayName = "Murmelist";
        g_setup.progress = 0;
        page = MakeProgressWindow();
    }
    void TearDown() override
    {
        DestroyWindow(page);
        RemoveTree(folder);
    }

    void Extract(const std::vector<TestEntry>& entries,
                 std::optional<uint32_t> count = std::nullopt)
    {
        std::vector<unsigned char> archive = BuildArchive(entries, count);
        g_setup.payloadTotal = ReadUint32(archive.data());
        ExtractPayload(archive.data(), (uint32_t)archive.size(), page);
    }

    std::string In(const std::string& name) { return folder + "\\" + name; }
    std::vector<std::string> Files() { return LogSection(ReadLogLines(In("setup.log")), "Files"); }

    std::wstring Question(const std::string& name)
    {
        return Wide("Файл " + name + " уже существует. Переписать его ?");
    }
    std::wstring CannotWrite(const std::string& path)
    {
        return Wide("Невозможно записать файл\n" + path);
    }

    std::string folder;
    HWND page = 0;
};

TEST_F(ExtractTest, FreshFolderGetsEveryFileLoggedInOrder)
{
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = (char)(i * 7 + i / 251);
    BoxAnswerer boxes({});
    // Shares of 100 points: 33, 0 (an empty file), 33, 33.
    Extract({{"first.bin", big.substr(0, 333)},
             {"empty.dat", ""},
             {"third.txt", std::string(333, 'x')},
             {"Large Name.exe", big.substr(0, 334)}});

    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_EQ(ReadWholeFile(In("first.bin")), big.substr(0, 333));
    EXPECT_EQ(ReadWholeFile(In("empty.dat")), std::string());
    EXPECT_EQ(ReadWholeFile(In("third.txt")), std::string(333, 'x'));
    EXPECT_EQ(ReadWholeFile(In("Large Name.exe")), big.substr(0, 334));

    std::vector<std::string> expected = {
        "[Common]",
        "ProgramName=Murmelist",
        "[Files]",
        "Dir=" + folder,
        "n=5",
        "size=1000",
        "File1=" + In("first.bin"),
        "File2=" + In("empty.dat"),
        "File3=" + In("third.txt"),
        "File4=" + In("Large Name.exe"),
        "File5=" + In("settings.ini"),
    };
    EXPECT_EQ(ReadLogLines(In("setup.log")), expected);
    EXPECT_EQ(ReceivedProgress(), (std::vector<uint32_t>{33, 33, 66, 99}));
    EXPECT_EQ(g_setup.progress, 99u);
}

TEST_F(ExtractTest, EmptyArchiveLogsOnlyTheExtraFile)
{
    Extract({});
    std::vector<std::string> expected = {
        "Dir=" + folder, "n=1", "size=0", "File1=" + In("settings.ini")};
    EXPECT_EQ(Files(), expected);
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"setup.log"});
    EXPECT_TRUE(ReceivedProgress().empty());
}

TEST_F(ExtractTest, CountBeyondTheArchiveIsNotBelieved)
{
    // The header claims 1000 entries; two are there. Nothing past the
    // resource is read, and the log numbers what was really installed.
    Extract({{"a.txt", "A"}, {"b.txt", "B"}}, 1000u);
    EXPECT_EQ(ReadWholeFile(In("b.txt")), "B");
    std::vector<std::string> expected = {
        "Dir=" + folder, "n=3", "size=2", "File1=" + In("a.txt"), "File2=" + In("b.txt"),
        "File3=" + In("settings.ini")};
    EXPECT_EQ(Files(), expected);
}

TEST_F(ExtractTest, ExistingFilesAreReplacedOnlyAfterYes)
{
    WriteWholeFile(In("keep.txt"), "old keep");
    WriteWholeFile(In("replace.txt"), "old replace");
    BoxAnswerer boxes({IDNO, IDYES});
    Extract({{"new.txt", std::string(50, 'n')},
             {"keep.txt", std::string(25, 'k')},
             {"replace.txt", std::string(25, 'r')}});

    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].caption, L"Ошибка");
    EXPECT_EQ(seen[0].text, Question("keep.txt"));
    EXPECT_EQ(seen[0].buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(seen[1].text, Question("replace.txt"));

    EXPECT_EQ(ReadWholeFile(In("keep.txt")), "old keep");
    EXPECT_EQ(ReadWholeFile(In("replace.txt")), std::string(25, 'r'));
    // The declined file leaves a gap in the numbering but still counts.
    std::vector<std::string> expected = {
        "Dir=" + folder, "n=4", "size=100", "File1=" + In("new.txt"),
        "File3=" + In("replace.txt"), "File4=" + In("settings.ini")};
    EXPECT_EQ(Files(), expected);
    EXPECT_EQ(ReceivedProgress(), (std::vector<uint32_t>{50, 75, 100}));
}

TEST_F(ExtractTest, SecondEntryOfOneNameFindsTheFirst)
{
    BoxAnswerer boxes({IDYES});
    Extract({{"twice.txt", "first"}, {"twice.txt", "second"}});
    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, Question("twice.txt"));
    EXPECT_EQ(ReadWholeFile(In("twice.txt")), "second");
    std::vector<std::string> expected = {
        "Dir=" + folder, "n=3", "size=11", "File1=" + In("twice.txt"),
        "File2=" + In("twice.txt"), "File3=" + In("settings.ini")};
    EXPECT_EQ(Files(), expected);
}

TEST_F(ExtractTest, FolderOfTheEntrysNameIsAskedAboutAndSurvives)
{
    CreateDirectoryA(In("data").c_str(), 0);
    WriteWholeFile(In("data\\inside.txt"), "inside");
    // Yes cannot turn a folder into a file: the write fails, Cancel skips it.
    BoxAnswerer boxes({IDYES, IDCANCEL});
    Extract({{"data", "payload"}, {"after.txt", "after"}});

    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, Question("data"));
    EXPECT_EQ(seen[1].caption, L"Ошибка");
    EXPECT_EQ(seen[1].text, CannotWrite(In("data")));
    EXPECT_EQ(seen[1].buttons, (std::vector<int>{IDCANCEL, IDRETRY}));
    EXPECT_TRUE(IsFolder(In("data")));
    EXPECT_EQ(ReadWholeFile(In("data\\inside.txt")), "inside");
    EXPECT_EQ(ReadWholeFile(In("after.txt")), "after");
    std::vector<std::string> expected = {
        "Dir=" + folder, "n=3", "size=12", "File2=" + In("after.txt"),
        "File3=" + In("settings.ini")};
    EXPECT_EQ(Files(), expected);
    EXPECT_EQ(ReceivedProgress(), (std::vector<uint32_t>{58, 99}));
}

TEST_F(ExtractTest, LockedFileIsRetriedOnceItIsReleased)
{
    WriteWholeFile(In("locked.txt"), "old");
    HANDLE holder = CreateFileA(In("locked.txt").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // Box 0 is the question, box 1 the first failure: let go before Retry.
    BoxAnswerer boxes({IDYES, IDRETRY}, [&](size_t index) {
        if (index == 1)
            CloseHandle(holder);
    });
    Extract({{"locked.txt", "new content"}});

    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, CannotWrite(In("locked.txt")));
    EXPECT_EQ(ReadWholeFile(In("locked.txt")), "new content");
    EXPECT_EQ(LogSection(ReadLogLines(In("setup.log")), "Files")[3], "File1=" + In("locked.txt"));
    EXPECT_EQ(ReceivedProgress(), std::vector<uint32_t>{100});
}

TEST_F(ExtractTest, LockedFileSkippedOnCancelKeepsItsContent)
{
    WriteWholeFile(In("locked.txt"), "old");
    HANDLE holder = CreateFileA(In("locked.txt").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    BoxAnswerer boxes({IDYES, IDRETRY, IDCANCEL});
    Extract({{"locked.txt", "new"}, {"next.txt", "next"}});
    CloseHandle(holder);

    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].text, CannotWrite(In("locked.txt")));
    EXPECT_EQ(ReadWholeFile(In("locked.txt")), "old");
    EXPECT_EQ(ReadWholeFile(In("next.txt")), "next");
    // Never created by us, so not the uninstaller's to delete.
    std::vector<std::string> expected = {
        "Dir=" + folder, "n=3", "size=7", "File2=" + In("next.txt"),
        "File3=" + In("settings.ini")};
    EXPECT_EQ(Files(), expected);
    EXPECT_EQ(ReceivedProgress(), (std::vector<uint32_t>{42, 99}));
}

TEST_F(ExtractTest, ReadOnlyFileIsRetriedAndSkipped)
{
    WriteWholeFile(In("probe.txt"), "");
    SetFileAttributesA(In("probe.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE probe = CreateFileA(In("probe.txt").c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, 0);
    RemoveTree(In("probe.txt"));
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "read-only files can be written here (Wine running as root)";
    }

    WriteWholeFile(In("ro.txt"), "old");
    WriteWholeFile(In("ro2.txt"), "old2");
    SetFileAttributesA(In("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(In("ro2.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    // ro.txt: Yes, fails, made writable, Retry succeeds. ro2.txt: Yes, Cancel.
    BoxAnswerer boxes({IDYES, IDRETRY, IDYES, IDCANCEL}, [&](size_t index) {
        if (index == 1)
            SetFileAttributesA(In("ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    });
    Extract({{"ro.txt", "new"}, {"ro2.txt", "new2"}});

    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1].text, CannotWrite(In("ro.txt")));
    EXPECT_EQ(seen[3].text, CannotWrite(In("ro2.txt")));
    EXPECT_EQ(ReadWholeFile(In("ro.txt")), "new");
    EXPECT_EQ(ReadWholeFile(In("ro2.txt")), "old2");
    std::vector<std::string> expected = {
        "Dir=" + folder, "n=3", "size=7", "File1=" + In("ro.txt"),
        "File3=" + In("settings.ini")};
    EXPECT_EQ(Files(), expected);
}

TEST_F(ExtractTest, PathTooLongIsRefusedNotCut)
{
    // folder + "\" + name is over 259 characters; a truncated name would
    // still fit and be a different file.
    std::string name(259 - folder.size(), 'L');
    BoxAnswerer boxes({IDRETRY, IDCANCEL});
    Extract({{name, "long"}, {"short.txt", "short"}});

    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, CannotWrite(folder + "\\" + name));
    EXPECT_EQ(seen[0].buttons, (std::vector<int>{IDCANCEL, IDRETRY}));
    EXPECT_EQ(seen[1].text, seen[0].text);
    std::vector<std::string> names = ListFolder(folder);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"setup.log", "short.txt"}));
    std::vector<std::string> expected = {
        "Dir=" + folder, "n=3", "size=9", "File2=" + In("short.txt"),
        "File3=" + In("settings.ini")};
    EXPECT_EQ(Files(), expected);
}

TEST_F(ExtractTest, FilesLandInTheInstallFolderWhateverTheCurrentDirectory)
{
    std::string elsewhere = MakeScratchFolder("elsewhere");
    SetCurrentDirectoryA(elsewhere.c_str());
    WriteWholeFile(elsewhere + "\\same.txt", "not ours");
    BoxAnswerer boxes({});
    Extract({{"same.txt", "ours"}});
    SetCurrentDirectoryA(folder.c_str());

    EXPECT_TRUE(boxes.Seen().empty());
    EXPECT_EQ(ReadWholeFile(In("same.txt")), "ours");
    EXPECT_EQ(ReadWholeFile(elsewhere + "\\same.txt"), "not ours");
    RemoveTree(elsewhere);
}

TEST(AdvanceProgressTest, SharesAreExactAtThe32BitLimits)
{
    HWND page = MakeProgressWindow();
    g_setup.payloadTotal = 0xFFFFFFFFu;
    g_setup.progress = 0;
    AdvanceProgress(page, 0xFFFFFFFEu);  // 99.99...%: truncated to 99
    EXPECT_EQ(g_setup.progress, 99u);
    AdvanceProgress(page, 1);
    EXPECT_EQ(g_setup.progress, 99u);
    g_setup.progress = 0;
    AdvanceProgress(page, 0xFFFFFFFFu);
    EXPECT_EQ(g_setup.progress, 100u);
    // A total of 0 with entries in the archive adds nothing and never divides.
    g_setup.payloadTotal = 0;
    AdvanceProgress(page, 12345);
    EXPECT_EQ(g_setup.progress, 100u);
    EXPECT_EQ(ReceivedProgress(), (std::vector<uint32_t>{99, 99, 100, 100}));
    DestroyWindow(page);
}

}  // namespace
