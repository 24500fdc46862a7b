// What a package may hold, installed by setup executables built around the
// packages in tests/e2e/packages: no payload, an empty entry, two entries
// with one name, a name that leaves no room for a folder, no group
// shortcuts, and sizes that overflow 32 bits in the progress arithmetic.
#include "wizard_support.h"

#include <commctrl.h>

using namespace wiz;

namespace {

std::wstring Variant(const wchar_t* package)
{
    return BuildPath(std::wstring(L"variants\\setup-") + package + L".exe");
}

// byte k of a generated entry is k mod 251
std::string FillBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t k = 0; k < size; ++k) bytes[k] = (char)(k % 251);
    return bytes;
}

struct Installation {
    std::wstring folder;
    std::wstring group;
    std::vector<Question> questions;
    Leftovers leftovers;
};

// None of these packages carries the programs its links and setup strings
// name (murmlist.exe, uninst.exe): their installations get no shortcut to
// them and no uninstall entry, and end as incomplete.

// Installs the package into a fresh folder, answering each question with
// answer, and closes the finish page with no option ticked.
void InstallPackage(const wchar_t* package, Installation* run, const Answerer& answer = AlwaysYes)
{
    run->folder = TestRoot() + L"\\" + UniqueName(package);
    run->group = UniqueName(L"Pkg");
    run->leftovers.paths = {run->folder, SpecialFolder(CSIDL_PROGRAMS) + L"\\" + run->group};
    ui::Process setup;
    HWND welcome = StartSetup(&setup, {}, L"", Variant(package));
    HWND finish = Install(setup, welcome, run->folder, run->group, answer, &run->questions);
    ASSERT_TRUE(finish);
    CloseFinish(setup, finish, {}, false, EXIT_INCOMPLETE);
}

}  // namespace

TEST(Packages, AnEmptyPayloadStillLogsTheExtraFile)
{
    Installation run;
    InstallPackage(L"empty", &run);
    EXPECT_TRUE(run.questions.empty());
    std::vector<LogLine> log = ReadLog(run.folder);
    EXPECT_EQ(LogValue(log, L"Files", L"n"), L"1");
    EXPECT_EQ(LogValue(log, L"Files", L"size"), L"0");
    EXPECT_EQ(LogValue(log, L"Files", L"File1"), run.folder + L"\\settings.ini");
    EXPECT_FALSE(LogHas(log, L"Files", L"File2"));
    EXPECT_FALSE(Exists(run.folder + L"\\settings.ini"));
}

TEST(Packages, AnEmptyEntryAndARepeatedNameInstallAsTheUserAnswers)
{
    Installation run;
    InstallPackage(L"edges", &run, [](const ui::MessageBoxInfo&) { return IDNO; });
    // Only the second "twice.dat" finds a file: the one this run just wrote.
    ASSERT_EQ(run.questions.size(), 1u);
    EXPECT_EQ(run.questions[0].box.text, L"Файл twice.dat уже существует. Переписать его ?");
    EXPECT_EQ(run.questions[0].box.caption, ERROR_CAPTION);
    EXPECT_EQ(FileSize(run.folder + L"\\empty.dat"), 0);
    EXPECT_EQ(InstalledFile(run.folder, L"twice.dat"), FillBytes(300));
    EXPECT_EQ(InstalledFile(run.folder, L"last.dat"), FillBytes(500));
    std::vector<LogLine> log = ReadLog(run.folder);
    EXPECT_EQ(LogValue(log, L"Files", L"n"), L"5");
    EXPECT_EQ(LogValue(log, L"Files", L"File1"), run.folder + L"\\empty.dat");
    EXPECT_EQ(LogValue(log, L"Files", L"File2"), run.folder + L"\\twice.dat");
    EXPECT_FALSE(LogHas(log, L"Files", L"File3")) << "the declined entry is not logged";
    EXPECT_EQ(LogValue(log, L"Files", L"File4"), run.folder + L"\\last.dat");
    EXPECT_EQ(LogValue(log, L"Files", L"File5"), run.folder + L"\\settings.ini");
}

TEST(Packages, ANameThatLeavesNoRoomForAFolderIsRefusedBeforeCopying)
{
    ui::Process setup;
    HWND destination = WalkToDestination(setup, StartSetup(&setup, {}, L"", Variant(L"longname")));
    ASSERT_TRUE(destination);
    std::wstring folder = L"C:\\m";
    ASSERT_TRUE(ui::SetControlText(destination, IDC_DEST_DIR, folder));
    ASSERT_TRUE(ui::Click(destination, IDC_NEXT));
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box));
    EXPECT_EQ(box.caption, ERROR_CAPTION);
    EXPECT_EQ(box.text, FolderTooLong(folder, std::wstring(255, L'n') + L".dat"));
    EXPECT_EQ(box.owner, destination);
    ASSERT_TRUE(ui::Answer(box.window, IDOK));
    EXPECT_FALSE(Exists(folder)) << "nothing is created for a refused folder";
    EXPECT_EQ(ui::CurrentPage(setup.id), destination);
    LeaveWizard(setup, destination);
}

TEST(Packages, NoGroupShortcutsStillMakesAndLogsTheGroupFolder)
{
    Installation run;
    InstallPackage(L"nolinks", &run);
    std::wstring groupFolder = SpecialFolder(CSIDL_PROGRAMS) + L"\\" + run.group;
    std::vector<LogLine> log = ReadLog(run.folder);
    EXPECT_EQ(LogValue(log, L"Links", L"n"), L"0");
    EXPECT_FALSE(LogHas(log, L"Links", L"Link1"));
    EXPECT_TRUE(SamePath(LogValue(log, L"Links", L"Dir"), groupFolder));
    EXPECT_EQ(LogValue(log, L"Links", L"size"), L"0");
    EXPECT_TRUE(Exists(groupFolder));
    EXPECT_TRUE(EntriesStartingWith(groupFolder, L"").size() <= 2u) << "only . and ..";
}

TEST(Packages, SharesOfALargePayloadAreExactDespite32BitOverflow)
{
    // At the question for the repeated tiny.bin the bar shows the shares of
    // 45000000, 1 and 5000000 bytes of 50000002: 89 + 0 + 9. Products
    // computed in 32 bits would wrap (45000000 * 100 > 2^32) and show less.
    DWORD_PTR position = 0;
    bool read = false;
    Installation run;
    InstallPackage(L"large", &run, [&](const ui::MessageBoxInfo& box) {
        read = SendMessageTimeoutW(ui::Control(box.owner, IDC_PROGRESS), PBM_GETPOS, 0, 0,
                                   SMTO_NORMAL, 5000, &position) != 0;
        return IDNO;
    });
    ASSERT_EQ(run.questions.size(), 1u);
    ASSERT_TRUE(read);
    EXPECT_EQ(position, 98u);

    std::vector<LogLine> log = ReadLog(run.folder);
    EXPECT_EQ(LogValue(log, L"Files", L"size"), L"50000002");
    EXPECT_EQ(FileSize(run.folder + L"\\big1.bin"), 45000000);
    EXPECT_EQ(InstalledFile(run.folder, L"big2.bin"), FillBytes(5000000));
    EXPECT_EQ(InstalledFile(run.folder, L"tiny.bin"), FillBytes(1));
}

TEST(Packages, ALongCopyIsNeverTakenForAHungWindowNorCancelled)
{
    // Two files of the sixty are there already, so the copy stops at the
    // question about each: the test clicks Cancel between them, while the
    // copy certainly runs, and it cannot end before the second is answered.
    std::wstring folder = TestRoot() + L"\\" + UniqueName(L"many");
    std::wstring group = UniqueName(L"Pkg");
    Leftovers leftovers;
    leftovers.paths = {folder, SpecialFolder(CSIDL_PROGRAMS) + L"\\" + group};
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* name : {L"\\file31.dat", L"\\file59.dat"}) {
        HANDLE file = CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    ui::Process setup;
    HWND page = WalkToGroup(setup, WalkToDestination(setup, StartSetup(&setup, {}, L"", Variant(L"many"))),
                            folder);
    ASSERT_TRUE(page);
    ASSERT_TRUE(ui::SetControlText(page, IDC_GROUP_NAME, group));
    ASSERT_TRUE(ui::Click(page, IDC_NEXT));
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box, INSTALL_MS)) << "no question about file31.dat";
    ASSERT_NE(box.text.find(L"file31.dat"), std::wstring::npos) << ui::Narrow(box.text);
    HWND copying = ui::CurrentPage(setup.id);
    ASSERT_TRUE(copying);
    ASSERT_TRUE(ui::Answer(box.window, IDYES));
    // Each of the next 27 files is followed by a 200 ms pause: the click is
    // handled while the copy runs, and the system's own test of a hung
    // window (no look at its messages for five seconds) must not hold.
    // A Cancel clicked mid-copy is not serviced: no exit question, and the
    // installation runs to its end.
    EXPECT_TRUE(ui::ClickNow(copying, IDC_CANCEL)) << "the copying page did not answer a click";
    EXPECT_FALSE(IsHungAppWindow(copying));
    ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box, INSTALL_MS)) << "no question about file59.dat";
    EXPECT_NE(box.text.find(L"file59.dat"), std::wstring::npos) << ui::Narrow(box.text);
    ASSERT_TRUE(ui::Answer(box.window, IDYES));
    HWND finish = ui::WaitForPage(setup.id, FINISH, INSTALL_MS);
    ASSERT_TRUE(finish);
    EXPECT_FALSE(ui::FindMessageBox(setup.id));
    CloseFinish(setup, finish, {}, false, EXIT_INCOMPLETE);
    EXPECT_EQ(InstalledFile(folder, L"file31.dat"), FillBytes(10));
    EXPECT_EQ(InstalledFile(folder, L"file60.dat"), FillBytes(10));
}
