// setup.log as the uninstaller will read it: where keys land, what a second
// write does, an old log left in the folder, keys taken back, and a change
// that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>

#include "actions_support.h"

namespace {

class SetupLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = MakeScratchFolder("log");
        path = folder + "\\setup.log";
        lstrcpyA(g_setup.installFolder, folder.c_str());
        NameLog();
    }
    void TearDown() override { RemoveTree(folder); }
    std::string folder;
    std::string path;
};

TEST_F(SetupLogTest, KeysKeepThePlaceOfTheirFirstWrite)
{
    LogWrite("Files", "Dir", "C:\\Program Files\\Murmelist");
    LogWriteNumber("Files", "n", 6);
    LogWrite("Links", "Link1", "C:\\a.lnk");
    LogWrite("Files", "File1", "C:\\Program Files\\Murmelist\\a.exe");
    LogWriteNumber("Links", "n", 1);
    LogWrite("Links", "Link2", "C:\\b.lnk");
    LogWriteNumber("Links", "n", 2);  // rewritten where it stands
    LogWriteNumber("Files", "size", -67984);
    std::vector<std::string> expected = {
        "[Files]",
        "Dir=C:\\Program Files\\Murmelist",
        "n=6",
        "File1=C:\\Program Files\\Murmelist\\a.exe",
        "size=-67984",
        "[Links]",
        "Link1=C:\\a.lnk",
        "n=2",
        "Link2=C:\\b.lnk",
    };
    EXPECT_EQ(ReadLogLines(path), expected);
}

TEST_F(SetupLogTest, NamesMatchWithoutCaseAndEmptyValuesStay)
{
    LogWrite("RegClass", "Dir1", "");
    LogWrite("RegClass", "Sub1", ".vdb");
    LogWrite("REGCLASS", "sub1", ".VDB");
    LogWrite("regclass", "Dir2", "VarazAzadEvuz\\shell\\open");
    std::vector<std::string> lines = ReadLogLines(path);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "[RegClass]");
    EXPECT_EQ(lines[1], "Dir1=");
    EXPECT_EQ(lstrcmpiA(lines[2].c_str(), "Sub1=.VDB"), 0) << lines[2];
    EXPECT_EQ(lines[2].substr(5), ".VDB");
    EXPECT_EQ(lines[3], "Dir2=VarazAzadEvuz\\shell\\open");
}

TEST_F(SetupLogTest, OldLogIsUpdatedInPlace)
{
    WriteWholeFile(path,
                   "[Common]\r\nProgramName=Old\r\n\r\n[Files]\r\nDir=C:\\Old\r\nFile9=C:\\Old\\gone.txt\r\n"
                   "n=9\r\n\r\n[Other]\r\nkeep=1\r\n");
    LogWrite("Common", "ProgramName", "Murmelist");
    LogWrite("Files", "Dir", "C:\\New");
    LogWriteNumber("Files", "n", 2);
    LogWrite("Files", "File1", "C:\\New\\a.txt");
    LogWrite("Links", "n", "0");
    std::vector<std::string> expected = {
        "[Common]", "ProgramName=Murmelist",
        "[Files]", "Dir=C:\\New", "File9=C:\\Old\\gone.txt", "n=2", "File1=C:\\New\\a.txt",
        "[Other]", "keep=1",
        "[Links]", "n=0",
    };
    EXPECT_EQ(ReadLogLines(path), expected);
}

// The same calls made through the profile functions straight on a file of
// their own give the same bytes, step by step: an old log with blank lines,
// comments and a key without '=', keys and sections written, replaced and
// taken away, and taking away what is not there.
TEST_F(SetupLogTest, TheTextIsTheOneTheProfileFunctionsWrite)
{
    const std::string reference = folder + "\\reference.ini";
    const std::string old = "junk\r\n\r\n[Common]\r\n  ProgramName = Old  \r\n; note\r\nbare\r\n\n"
                            "[Files]\nFile9=C:\\Old\\gone.txt";
    WriteWholeFile(path, old);
    WriteWholeFile(reference, old);
    struct Call {
        const char* section;
        const char* key;
        const char* value;
    } calls[] = {
        {"Common", "ProgramName", "Murmelist"}, {"Files", "Dir", "C:\\New"},
        {"files", "FILE9", "C:\\New\\a.txt"}, {"Links", "n", "2"},
        {"Links", "Link1", "C:\\a.lnk"},      {"Links", "Link1", nullptr},
        {"Links", "Link7", nullptr},          {"RegClass", "Dir1", ""},
        {"Common", nullptr, nullptr},         {"Nowhere", nullptr, nullptr},
        {"Links", "Link2", "C:\\b.lnk"},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(std::string(call.section) + " " + (call.key ? call.key : "(section)") + " " +
                     (call.value ? call.value : "(taken away)"));
        if (call.value)
            EXPECT_TRUE(LogWrite(call.section, call.key, call.value));
        else
            LogForget(call.section, call.key);
        WritePrivateProfileStringA(call.section, call.key, call.value, reference.c_str());
        EXPECT_EQ(ReadWholeFile(path), ReadWholeFile(reference));
    }
    EXPECT_FALSE(PathExists((folder + "\\setup.tmp").c_str())) << "the copy was left behind";
}

// A change that cannot be moved over the log (the log held open by a
// program that lets nobody replace it) is asked about; after Cancel the log
// is exactly what it was, no copy is left, and the change is reported as
// not written, so the item it is for is not made.
TEST_F(SetupLogTest, AChangeThatCannotBeWrittenLeavesTheLogAsItWas)
{
    ASSERT_TRUE(LogWrite("Files", "Dir", "C:\\New"));
    const std::optional<std::string> before = ReadWholeFile(path);
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    bool written;
    {
        BoxAnswerer cancel({IDCANCEL});
        written = LogWrite("Files", "File1", "C:\\New\\a.txt");
        ASSERT_EQ(cancel.Seen().size(), 1u);
        EXPECT_EQ(cancel.Seen()[0].text, Wide("Невозможно записать файл\n" + path));
    }
    CloseHandle(held);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadWholeFile(path), before);
    EXPECT_FALSE(PathExists((folder + "\\setup.tmp").c_str()));
}

// A log an earlier run left: what a key that records an item gives up by
// taking another value goes into [Earlier] first; a key past a count that
// went down, or one given up, stays as it was.
TEST_F(SetupLogTest, AnEarlierRunsRecordStaysRecorded)
{
    for (const char* const* line : std::initializer_list<const char* const*>{
             (const char* const[]){"Files", "n", "3"}, (const char* const[]){"Files", "File1", "a"},
             (const char* const[]){"Files", "File2", "b"}, (const char* const[]){"Files", "File3", "c"},
             (const char* const[]){"Links", "n", "2"}, (const char* const[]){"Links", "Link1", "l1"},
             (const char* const[]){"Links", "Link2", "l2"}, (const char* const[]){"Links", "Dir", "G1"},
             (const char* const[]){"RegUninst", "Dir", "U"}, (const char* const[]){"RegUninst", "SubKey", "Old"}})
        WritePrivateProfileStringA(line[0], line[1], line[2], path.c_str());
    NameLog();
    LogWriteNumber("Files", "n", 2);           // c stays past it
    LogWriteNumbered("Files", "File", 1, "A"); // the same file, spelt otherwise
    LogWriteNumbered("Files", "File", 2, "d"); // b goes
    LogForgetNumbered("Files", "File", 1);     // given up, may still be the earlier one's
    LogWriteNumber("Links", "n", 1);
    LogWrite("Links", "Dir", "G2");            // G1 goes
    LogWrite("RegUninst", "SubKey", "New");    // the entry Old goes
    LogWriteNumbered("Links", "Link", 2, "l2");
    LogWriteNumber("Links", "n", 2);
    std::vector<std::string> lines = ReadLogLines(path);
    std::vector<std::string> earlier(std::find(lines.begin(), lines.end(), "[Earlier]"), lines.end());
    EXPECT_EQ(earlier, (std::vector<std::string>{"[Earlier]", "File1=b", "n=3", "Dir2=G1", "Key3=Old"}));
    for (const char* kept : {"File1=A", "File3=c"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), kept), lines.end()) << kept;

    // A count that goes down and comes back with the same items, as a run
    // of the same package does: no [Earlier] is left.
    DeleteFileA(path.c_str());
    WritePrivateProfileStringA("Links", "n", "3", path.c_str());
    WritePrivateProfileStringA("Links", "Link3", "l3", path.c_str());
    NameLog();
    LogWriteNumber("Links", "n", 2);
    LogWriteNumbered("Links", "Link", 3, "L3");
    LogWriteNumber("Links", "n", 3);
    EXPECT_EQ(ReadLogLines(path), (std::vector<std::string>{"[Links]", "n=3", "Link3=L3"}));
}

TEST_F(SetupLogTest, NothingIsWrittenBeforeTheLogIsNamed)
{
    g_setup.logPath[0] = 0;
    LogWrite("LogProbeSection", "Key", "value");
    char value[16] = "";
    GetProfileStringA("LogProbeSection", "Key", "none", value, sizeof value);
    EXPECT_STREQ(value, "none");
    EXPECT_TRUE(ListFolder(folder).empty());
}

}  // namespace
