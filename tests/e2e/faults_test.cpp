// Faults met while installing, driven from outside the running setup.exe: a
// file that cannot be written (read-only, held open by another program, a
// disk that fills up), the installation folder taken away before copying,
// a setup.log that cannot be written, no Programs folder; and the longest
// installation folder that still fits. After each: the user is told, no
// file of the user's is lost that the user did not agree to replace, and
// the installed uninstaller removes what was installed.
//
// Everything happens below the work folder that faults-work.sh prepares
// (on Z:, so that the host's tools reach the same files), with a small
// file system mounted in it for the full disk.
#include "wizard_support.h"

#include <algorithm>
#include <functional>
#include <map>

using namespace wiz;

namespace {

const wchar_t CANNOT_WRITE[] = L"Невозможно записать файл\n";
const wchar_t CANNOT_MAKE_LINK[] = L"Невозможно создать ярлык\n";
const wchar_t FOLDER_NOT_EMPTY[] = L" (папка не пуста)";
const wchar_t TAKEN_BACK[] = L"Не удалось записать программу удаления или журнал установки.\n"
                             L"Установка отменена, всё установленное удалено.";

std::wstring OverwriteQuestion(const std::wstring& name)
{
    return L"Файл " + name + L" уже существует. Переписать его ?";
}

std::wstring WorkRoot() { return ui::HostPath(FAULTS_WORK); }

// The Linux path of a path below Z:, for the host's own tools.
std::string UnixPath(const std::wstring& path)
{
    std::string result = ui::Narrow(path.substr(2));
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

// Runs a command of the Linux host through /bin/sh and waits for it. Wine
// starts Unix programs through CreateProcess but gives no handle to wait
// on, so the command leaves its exit status in a file. The command must not
// hold double quotes.
bool HostCommand(const std::string& command)
{
    static int counter = 0;
    const std::wstring status = WorkRoot() + L"\\host-" + std::to_wstring(GetCurrentProcessId()) +
                                L"-" + std::to_wstring(++counter) + L".status";
    std::wstring line = L"/bin/sh -c \"" + ui::Widen(command) + L"; echo $? > '" +
                        ui::Widen(UnixPath(status)) + L"'\"";
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info))
        return false;
    if (info.hThread) CloseHandle(info.hThread);
    if (info.hProcess) CloseHandle(info.hProcess);
    std::string text;
    bool finished = ui::WaitUntil(
        [&] { return ui::ReadFileBytes(status, &text) && text.find('\n') != std::string::npos; },
        10000);
    DeleteFileW(status.c_str());
    return finished && text.substr(0, text.find('\n')) == "0";
}

bool CanOpenForWriting(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// Read-only as Windows has it. Under Wine the attribute only takes the Unix
// write permission away, which root does not need, so there the file is
// made immutable as well. False when neither holds here.
bool MakeReadOnly(const std::wstring& path)
{
    if (!SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY)) return false;
    if (CanOpenForWriting(path)) HostCommand("chattr +i '" + UnixPath(path) + "'");
    return !CanOpenForWriting(path);
}

void MakeWritable(const std::wstring& path)
{
    if (!Exists(path)) return;
    HostCommand("chattr -i '" + UnixPath(path) + "' 2>/dev/null");
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Runs when it goes out of scope, also when a check fails half-way.
struct Finally {
    std::function<void()> run;
    ~Finally()
    {
        if (run) run();
    }
};

// One installation run through a fault: where it installs, and what it
// leaves behind for the cleanup to take away whatever happened.
struct Installation {
    std::wstring folder;
    std::wstring group = UniqueName(L"Faults");
    std::wstring groupFolder = SpecialFolder(CSIDL_PROGRAMS) + L"\\" + group;
    // Setup's current directory: nothing may ever land there.
    std::wstring startFolder = WorkRoot() + L"\\" + UniqueName(L"start");
    Finally cleanup{[this] {
        RemoveTree(folder);
        RemoveTree(groupFolder);
        RemoveTree(startFolder);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY);
    }};
    // Declared last, so ended first.
    ui::Process setup;

    explicit Installation(const std::wstring& installFolder) : folder(installFolder)
    {
        CreateDirectoryW(startFolder.c_str(), nullptr);
    }
};

// From the start to the group page with the folder typed in.
HWND WalkToGroupPage(Installation& run)
{
    HWND welcome = StartSetup(&run.setup, {}, run.startFolder);
    HWND destination = WalkToDestination(run.setup, welcome);
    return WalkToGroup(run.setup, destination, run.folder);
}

// Names the group and moves on to the copying page.
bool StartCopying(Installation& run, HWND groupPage)
{
    return groupPage && ui::SetControlText(groupPage, IDC_GROUP_NAME, run.group) &&
           ui::Click(groupPage, IDC_NEXT);
}

enum class Next { Box, Finish, Nothing };

// The next message box or the finish page, whichever comes first.
Next WaitForBoxOrFinish(const ui::Process& setup, ui::MessageBoxInfo* box)
{
    HWND found = nullptr;
    bool finish = false;
    ui::WaitUntil(
        [&] {
            if ((found = ui::FindMessageBox(setup.id)) != nullptr) return true;
            return finish = ui::FindPage(setup.id, FINISH) != nullptr;
        },
        INSTALL_MS);
    if (found) {
        ui::ReadWholeMessageBox(found, box);
        return Next::Box;
    }
    return finish ? Next::Finish : Next::Nothing;
}

// The names in a folder, sorted, without "." and "..".
std::vector<std::wstring> FolderContents(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    for (const std::wstring& name : EntriesStartingWith(folder, L""))
        if (name != L"." && name != L"..") names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<int> Sorted(std::vector<int> values)
{
    std::sort(values.begin(), values.end());
    return values;
}

// The overwrite question for name, answered.
void AnswerOverwrite(const ui::Process& setup, const std::wstring& name, int answer)
{
    SCOPED_TRACE("the overwrite question for " + ui::Narrow(name));
    ui::MessageBoxInfo box;
    ASSERT_EQ(WaitForBoxOrFinish(setup, &box), Next::Box);
    EXPECT_EQ(box.caption, ERROR_CAPTION);
    ASSERT_EQ(box.text, OverwriteQuestion(name));
    ASSERT_TRUE(ui::Answer(box.window, answer));
}

// The failure message for path (a file that cannot be written, unless
// problem says otherwise): owned by the copying page, Retry the default.
// meanwhile runs while the message is shown, before the answer.
void AnswerRetryBox(const ui::Process& setup, const std::wstring& path, int answer,
                    const std::function<void()>& meanwhile = {},
                    const wchar_t* problem = CANNOT_WRITE)
{
    SCOPED_TRACE("the failure message for " + ui::Narrow(path));
    ui::MessageBoxInfo box;
    ASSERT_EQ(WaitForBoxOrFinish(setup, &box), Next::Box) << "not reported";
    ASSERT_EQ(box.text, problem + path);
    EXPECT_EQ(box.caption, ERROR_CAPTION);
    EXPECT_EQ(Sorted(box.buttons), Sorted({IDRETRY, IDCANCEL}));
    EXPECT_EQ(box.defaultButton, IDRETRY);
    EXPECT_FALSE(box.hasIcon);
    // The copying page's title says which step it is in.
    std::wstring owner = ui::WindowText(box.owner);
    EXPECT_TRUE(owner == COPYING || owner == SHORTCUTS) << "not owned by the copying page";
    if (meanwhile) meanwhile();
    ASSERT_TRUE(ui::Answer(box.window, answer));
}

// Ends the wizard on the finish page with the options ticked (none unless
// given), where the page's first line must read outcome, and setup must end
// with exitCode. Any message box met on the way is answered Cancel (or No,
// or OK) and returned.
std::vector<std::wstring> FinishWizard(const ui::Process& setup,
                                       const std::vector<int>& options = {},
                                       const std::wstring& outcome = INSTALLED,
                                       DWORD exitCode = 0)
{
    std::vector<std::wstring> boxes;
    for (int i = 0; i < 20; ++i) {
        ui::MessageBoxInfo box;
        Next next = WaitForBoxOrFinish(setup, &box);
        if (next == Next::Nothing) {
            ADD_FAILURE() << "neither a message nor the finish page";
            return boxes;
        }
        if (next == Next::Finish) break;
        boxes.push_back(box.text);
        const std::vector<int>& buttons = box.buttons;
        int answer = std::count(buttons.begin(), buttons.end(), IDCANCEL) ? IDCANCEL
                     : std::count(buttons.begin(), buttons.end(), IDNO)   ? IDNO
                                                                          : IDOK;
        if (!ui::Answer(box.window, answer)) {
            ADD_FAILURE() << "cannot answer " << ui::Narrow(box.text);
            return boxes;
        }
    }
    HWND finish = ui::FindPage(setup.id, FINISH);
    EXPECT_EQ(finish ? FinishOutcome(finish) : L"", outcome);
    for (int option : options) EXPECT_TRUE(finish && ui::ClickNow(finish, option));
    EXPECT_TRUE(finish && ui::Click(finish, IDC_NEXT)) << "no finish page";
    DWORD code = 1;
    EXPECT_TRUE(ui::WaitForExit(setup, ui::WAIT_MS, &code)) << "setup did not end";
    EXPECT_EQ(code, exitCode);
    return boxes;
}

// Every payload file but those skipped holds the package's bytes.
void ExpectInstalled(const std::wstring& folder, const std::vector<std::wstring>& skipped = {})
{
    for (const std::wstring& name : PayloadNames()) {
        if (std::count(skipped.begin(), skipped.end(), name)) continue;
        EXPECT_TRUE(InstalledFile(folder, name) == PackageFile(name))
            << ui::Narrow(name) << " is not the package's";
    }
}

// The log's File key for a payload file, by its place in the archive.
std::wstring FileKey(const std::wstring& name)
{
    const std::vector<std::wstring>& names = PayloadNames();
    return L"File" + std::to_wstring(std::find(names.begin(), names.end(), name) - names.begin() + 1);
}

// The Programs folder as setup looks it up: through an item list, which the
// shell refuses for a folder that is not there.
std::wstring ProgramsFolder()
{
    LPITEMIDLIST list = nullptr;
    wchar_t path[MAX_PATH] = L"";
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAMS, &list)) && list) {
        if (!SHGetPathFromIDListW(list, path)) path[0] = L'\0';
        CoTaskMemFree(list);
    }
    return path;
}

// Runs the installed uninstaller; its report lists what it left behind.
std::wstring Uninstall(const Installation& run)
{
    std::wstring report;
    EXPECT_TRUE(RunUninstaller(run.folder, WorkRoot() + L"\\" + UniqueName(L"report") + L".txt",
                               &report))
        << "the uninstaller did not finish";
    EXPECT_FALSE(Exists(run.groupFolder)) << "the program group is still there";
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY));
    return report;
}

bool WriteText(const std::wstring& path, const std::string& text)
{
    return ui::WriteFileBytes(path, text);
}

std::string ReadText(const std::wstring& path)
{
    std::string bytes;
    ui::ReadFileBytes(path, &bytes);
    return bytes;
}

// What keeps setup from writing over a file that is already there, until
// it lets go.
class Obstacle {
public:
    virtual ~Obstacle() = default;
    virtual bool Block(const std::wstring& path) = 0;
    virtual void Release(const std::wstring& path) = 0;
};

class ReadOnlyAttribute : public Obstacle {
public:
    ~ReadOnlyAttribute() override
    {
        for (const std::wstring& path : blocked_) MakeWritable(path);
    }
    bool Block(const std::wstring& path) override
    {
        blocked_.push_back(path);
        return MakeReadOnly(path);
    }
    void Release(const std::wstring& path) override { MakeWritable(path); }

private:
    std::vector<std::wstring> blocked_;
};

// Another program (this one) holding the file open without sharing.
class OpenWithoutSharing : public Obstacle {
public:
    ~OpenWithoutSharing() override
    {
        for (auto& held : held_) CloseHandle(held.second);
    }
    bool Block(const std::wstring& path) override
    {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        held_[path] = file;
        return true;
    }
    void Release(const std::wstring& path) override
    {
        auto held = held_.find(path);
        if (held == held_.end()) return;
        CloseHandle(held->second);
        held_.erase(held);
    }

private:
    std::map<std::wstring, HANDLE> held_;
};

// Two of the user's files stand where the payload goes, and an obstacle
// keeps both from being written. murm.chm: Yes, Retry while blocked (asked
// again), Retry once free: replaced. Base2.vdb: Yes, Cancel: skipped, kept
// as it was, not logged, so the uninstaller leaves it alone too.
void OverwriteBlockedFiles(Obstacle& obstacle)
{
    Installation run(WorkRoot() + L"\\" + UniqueName(L"blocked"));
    const std::wstring help = run.folder + L"\\murm.chm";
    const std::wstring base = run.folder + L"\\Base2.vdb";
    const std::wstring notes = run.folder + L"\\notes.txt";
    ASSERT_TRUE(CreateDirectoryW(run.folder.c_str(), nullptr));
    ASSERT_TRUE(WriteText(help, "the user's old help"));
    ASSERT_TRUE(WriteText(base, "the user's own data base"));
    ASSERT_TRUE(WriteText(notes, "the user's notes"));
    if (!obstacle.Block(help) || !obstacle.Block(base))
        GTEST_SKIP() << "cannot keep a file from being written here";

    ASSERT_TRUE(StartCopying(run, WalkToGroupPage(run)));
    ASSERT_NO_FATAL_FAILURE(AnswerOverwrite(run.setup, L"murm.chm", IDYES));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, help, IDRETRY));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, help, IDRETRY, [&] { obstacle.Release(help); }));
    // The next question is the next file's: the retry went through.
    ASSERT_NO_FATAL_FAILURE(AnswerOverwrite(run.setup, L"Base2.vdb", IDYES));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, base, IDCANCEL));
    // Told, and not called a success: one item is missing.
    std::vector<std::wstring> boxes = FinishWizard(run.setup, {}, Incomplete(1), EXIT_INCOMPLETE);
    EXPECT_TRUE(boxes.empty()) << "more messages:" << Listed(boxes);

    obstacle.Release(base);
    ExpectInstalled(run.folder, {L"Base2.vdb"});
    EXPECT_EQ(ReadText(base), "the user's own data base");
    EXPECT_EQ(ReadText(notes), "the user's notes");
    std::vector<LogLine> log = ReadLog(run.folder);
    EXPECT_EQ(LogValue(log, L"Files", FileKey(L"murm.chm")), help);
    EXPECT_FALSE(LogHas(log, L"Files", FileKey(L"Base2.vdb"))) << "the user's file is logged";

    EXPECT_EQ(Uninstall(run), run.folder + FOLDER_NOT_EMPTY + L"\r\n");
    EXPECT_EQ(ReadText(base), "the user's own data base");
    EXPECT_EQ(ReadText(notes), "the user's notes");
    for (const std::wstring& name : PayloadNames()) {
        if (name == L"Base2.vdb") continue;
        EXPECT_FALSE(Exists(run.folder + L"\\" + name)) << ui::Narrow(name);
    }
}

}  // namespace

TEST(Faults, AReadOnlyFileIsAskedForAgainUntilWritableOrSkipped)
{
    ReadOnlyAttribute readOnly;
    OverwriteBlockedFiles(readOnly);
}

TEST(Faults, AFileHeldOpenIsAskedForAgainUntilReleasedOrSkipped)
{
    OpenWithoutSharing holder;
    OverwriteBlockedFiles(holder);
}

// The destination page made sure of the folder; it may still be gone when
// the copying starts. The copying page makes it again rather than writing
// nowhere, and certainly nowhere else.
TEST(Faults, AnInstallationFolderRemovedBeforeCopyingIsMadeAgain)
{
    Installation run(WorkRoot() + L"\\" + UniqueName(L"removed"));
    HWND groupPage = WalkToGroupPage(run);
    ASSERT_TRUE(groupPage);
    ASSERT_TRUE(Exists(run.folder)) << "the destination page did not make the folder";
    RemoveTree(run.folder);
    ASSERT_FALSE(Exists(run.folder));

    ASSERT_TRUE(StartCopying(run, groupPage));
    std::vector<std::wstring> boxes = FinishWizard(run.setup);
    EXPECT_TRUE(boxes.empty()) << "messages:" << Listed(boxes);

    ASSERT_TRUE(Exists(run.folder)) << "the installation folder was not made again";
    ExpectInstalled(run.folder);
    std::vector<LogLine> log = ReadLog(run.folder);
    EXPECT_EQ(LogValue(log, L"Files", L"Dir"), run.folder);
    EXPECT_TRUE(LogHas(log, L"RegUninst", L"SubKey"));
    // Nothing went to the current directory or beside the folder.
    for (const std::wstring& name : PayloadNames()) {
        EXPECT_FALSE(Exists(run.startFolder + L"\\" + name)) << ui::Narrow(name);
        EXPECT_FALSE(Exists(WorkRoot() + L"\\" + name)) << ui::Narrow(name);
    }
    EXPECT_FALSE(Exists(run.startFolder + L"\\setup.log"));
    EXPECT_FALSE(Exists(WorkRoot() + L"\\setup.log"));

    EXPECT_EQ(Uninstall(run), L"");
    EXPECT_FALSE(Exists(run.folder));
}

// The small file system that faults-work.sh mounted, and other data that
// fill it up to a given room (gone again when this goes out of scope).
struct SmallDisk {
    std::wstring path = WorkRoot() + L"\\small-disk";
    std::wstring filler = path + L"\\" + UniqueName(L"other-data");
    unsigned long long cluster = 0;
    bool mounted = false;

    SmallDisk()
    {
        ULARGE_INTEGER available, total, unused;
        DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
        mounted = GetDiskFreeSpaceExW((path + L"\\").c_str(), &available, &total, &unused) &&
                  total.QuadPart <= 16u << 20 &&
                  GetDiskFreeSpaceW((path + L"\\").c_str(), &sectorsPerCluster, &bytesPerSector,
                                    &freeClusters, &clusters);
        cluster = (unsigned long long)sectorsPerCluster * bytesPerSector;
    }
    ~SmallDisk() { DeleteFileW(filler.c_str()); }
    unsigned long long Available() const
    {
        ULARGE_INTEGER available, total, unused;
        GetDiskFreeSpaceExW((path + L"\\").c_str(), &available, &total, &unused);
        return available.QuadPart;
    }
    // Whole clusters of a payload file.
    unsigned long long ClustersOf(const std::wstring& name) const
    {
        return (PackageFile(name).size() + cluster - 1) / cluster;
    }
    void LeaveRoom(unsigned long long room)
    {
        DeleteFileW(filler.c_str());
        ASSERT_GT(Available(), room);
        ASSERT_TRUE(WriteText(filler, std::string(Available() - room, 'x')));
        ASSERT_EQ(Available(), room);
    }
};

#define SKIP_WITHOUT(disk)                                                              \
    if (!(disk).mounted)                                                                \
    GTEST_SKIP() << "no small file system at " << ui::Narrow((disk).path)              \
                 << ": faults-work.sh could not mount one"

// A drive without room for the installation is refused on the destination
// page, which says how much it needs and how much is free, and makes
// nothing; with room made, the same folder is taken.
TEST(Faults, AFolderOnADriveWithoutRoomIsRefusedWithWhatItNeeds)
{
    SmallDisk disk;
    SKIP_WITHOUT(disk);
    unsigned long long payload = 0;
    for (const std::wstring& name : PayloadNames()) payload += disk.ClustersOf(name);
    ASSERT_NO_FATAL_FAILURE(disk.LeaveRoom(payload * disk.cluster));

    Installation run(disk.path + L"\\" + UniqueName(L"inst"));
    HWND destination = WalkToDestination(run.setup, StartSetup(&run.setup, {}, run.startFolder));
    ASSERT_TRUE(destination);
    ASSERT_TRUE(ui::SetControlText(destination, IDC_DEST_DIR, run.folder));
    ASSERT_TRUE(ui::Click(destination, IDC_NEXT));
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(run.setup.id, &box)) << "a drive without room was taken";
    EXPECT_EQ(box.caption, ERROR_CAPTION);
    const std::wstring freeText =
        L", свободно: " + std::to_wstring(payload * disk.cluster / 1024) + L" КБ.";
    EXPECT_EQ(box.text.substr(0, box.text.find(L"\n")), L"Недостаточно места на диске.");
    EXPECT_NE(box.text.find(freeText), std::wstring::npos) << ui::Narrow(box.text);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    ASSERT_TRUE(ui::Answer(box.window, IDOK));
    EXPECT_EQ(ui::FindPage(run.setup.id, DESTINATION), destination) << "the page did not stay";
    EXPECT_FALSE(Exists(run.folder)) << "the refused folder was made";

    DeleteFileW(disk.filler.c_str());
    ASSERT_TRUE(WalkToGroup(run.setup, destination, run.folder)) << "refused with room made";
    LeaveWizard(run.setup, ui::CurrentPage(run.setup.id));
}

// The disk fills up after the folder was taken, by other data written
// meanwhile. It has room for the first file and setup.log but not the
// second, murm.chm: asked, Retry while the disk is still full asks again,
// Cancel skips it and leaves no damaged copy. The last file, uninst.exe,
// does not fit either (or the log's entry for it); the user makes room and
// Retry writes it. The finish page says that one item is missing.
TEST(Faults, ADiskThatFillsUpIsReportedFileByFileAndNeverCalledASuccess)
{
    SmallDisk disk;
    SKIP_WITHOUT(disk);
    const unsigned long long room =
        (disk.ClustersOf(L"MurmList.exe") + 1 + disk.ClustersOf(L"murm.chm") / 2) * disk.cluster;
    // What is left after murm.chm is skipped does not hold the rest either.
    ASSERT_LT(disk.ClustersOf(L"murm.chm") / 2, disk.ClustersOf(L"settings.ini") +
                                                    disk.ClustersOf(L"Base2.vdb") +
                                                    disk.ClustersOf(L"uninst.exe"));

    Installation run(disk.path + L"\\" + UniqueName(L"inst"));
    HWND groupPage = WalkToGroupPage(run);
    ASSERT_TRUE(groupPage);
    ASSERT_NO_FATAL_FAILURE(disk.LeaveRoom(room));
    ASSERT_TRUE(StartCopying(run, groupPage));
    const std::wstring help = run.folder + L"\\murm.chm";
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, help, IDRETRY));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, help, IDCANCEL));
    // Whichever comes first does not fit: the log's next entry (written
    // before its file) or the file itself.
    ui::MessageBoxInfo full;
    ASSERT_EQ(WaitForBoxOrFinish(run.setup, &full), Next::Box);
    EXPECT_TRUE(full.text == CANNOT_WRITE + run.folder + L"\\setup.log" ||
                full.text == CANNOT_WRITE + run.folder + L"\\uninst.exe")
        << ui::Narrow(full.text);
    ASSERT_TRUE(DeleteFileW(disk.filler.c_str()));
    ASSERT_TRUE(ui::Answer(full.window, IDRETRY));
    std::vector<std::wstring> boxes = FinishWizard(run.setup, {}, Incomplete(1), EXIT_INCOMPLETE);
    EXPECT_TRUE(boxes.empty()) << "more messages:" << Listed(boxes);

    ExpectInstalled(run.folder, {L"murm.chm"});
    EXPECT_FALSE(Exists(help)) << "a damaged murm.chm was left";
    std::vector<LogLine> log = ReadLog(run.folder);
    EXPECT_FALSE(LogHas(log, L"Files", FileKey(L"murm.chm"))) << "a file given up is logged";
    EXPECT_EQ(LogValue(log, L"Files", FileKey(L"uninst.exe")), run.folder + L"\\uninst.exe");

    EXPECT_EQ(Uninstall(run), L"");
    EXPECT_FALSE(Exists(run.folder));
}

// The uninstaller cannot be written (something of the user's stands in its
// place): after Cancel the setup takes back everything it made, says so and
// ends with a code of its own; nothing is left that nobody could remove,
// and the user's things stay.
TEST(Faults, WithoutItsUninstallerTheInstallationIsTakenBack)
{
    Installation run(WorkRoot() + L"\\" + UniqueName(L"nouninst"));
    const std::wstring uninstaller = run.folder + L"\\uninst.exe";
    ASSERT_TRUE(CreateDirectoryW(run.folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(uninstaller.c_str(), nullptr));
    ASSERT_TRUE(WriteText(uninstaller + L"\\kept.txt", "the user's own file"));

    ASSERT_TRUE(StartCopying(run, WalkToGroupPage(run)));
    ASSERT_NO_FATAL_FAILURE(AnswerOverwrite(run.setup, L"uninst.exe", IDYES));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, uninstaller, IDCANCEL));
    ui::MessageBoxInfo box;
    ASSERT_EQ(WaitForBoxOrFinish(run.setup, &box), Next::Box) << "not told";
    EXPECT_EQ(box.caption, ERROR_CAPTION);
    EXPECT_EQ(box.text, TAKEN_BACK);
    ASSERT_TRUE(ui::Answer(box.window, IDOK));
    DWORD code = 0;
    ASSERT_TRUE(ui::WaitForExit(run.setup, ui::WAIT_MS, &code));
    EXPECT_EQ(code, EXIT_TAKEN_BACK);

    EXPECT_EQ(FolderContents(run.folder), std::vector<std::wstring>{L"uninst.exe"});
    EXPECT_EQ(ReadText(uninstaller + L"\\kept.txt"), "the user's own file");
    EXPECT_FALSE(Exists(run.groupFolder));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY));
}

// The same in a second setup over an installed folder, where the user kept
// the installed files with No. The take-back removes only what this run
// wrote: the kept files, named by the first run's log, stay, and so do that
// log and the first installation's group and entry.
TEST(Faults, ASecondSetupTakenBackLeavesTheFirstInstallationAsItWas)
{
    Installation run(WorkRoot() + L"\\" + UniqueName(L"takeback"));
    ASSERT_TRUE(StartCopying(run, WalkToGroupPage(run)));
    FinishWizard(run.setup);
    const std::wstring log = run.folder + L"\\setup.log";
    const std::string firstLog = ReadText(log);
    ASSERT_FALSE(firstLog.empty());
    const std::wstring uninstaller = run.folder + L"\\uninst.exe";
    ASSERT_TRUE(DeleteFileW(uninstaller.c_str()));
    ASSERT_TRUE(CreateDirectoryW(uninstaller.c_str(), nullptr));

    ASSERT_TRUE(StartCopying(run, WalkToGroupPage(run)));
    for (const std::wstring& name : PayloadNames()) {
        if (name == L"uninst.exe") continue;
        ASSERT_NO_FATAL_FAILURE(AnswerOverwrite(run.setup, name, IDNO));
    }
    ASSERT_NO_FATAL_FAILURE(AnswerOverwrite(run.setup, L"uninst.exe", IDYES));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, uninstaller, IDCANCEL));
    ui::MessageBoxInfo box;
    ASSERT_EQ(WaitForBoxOrFinish(run.setup, &box), Next::Box) << "not told";
    EXPECT_EQ(box.text, TAKEN_BACK);
    ASSERT_TRUE(ui::Answer(box.window, IDOK));
    DWORD code = 0;
    ASSERT_TRUE(ui::WaitForExit(run.setup, ui::WAIT_MS, &code));
    EXPECT_EQ(code, EXIT_TAKEN_BACK);

    ExpectInstalled(run.folder, {L"uninst.exe"});
    EXPECT_EQ(ReadText(log), firstLog);
    EXPECT_TRUE(Exists(run.groupFolder));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY));
}

// Something of the user's named setup.log stands in the folder. Setup says
// so when it first needs the log. Without a log nothing could be undone, so
// after Cancel nothing is made, the setup says it took the installation
// back, and the user's things are as they were.
TEST(Faults, ASetupLogThatCannotBeWrittenIsReportedAndNothingIsLeftBehind)
{
    Installation run(WorkRoot() + L"\\" + UniqueName(L"nolog"));
    const std::wstring log = run.folder + L"\\setup.log";
    const std::wstring kept = log + L"\\kept.txt";
    ASSERT_TRUE(CreateDirectoryW(run.folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(log.c_str(), nullptr));
    ASSERT_TRUE(WriteText(kept, "the user's own file"));

    ASSERT_TRUE(StartCopying(run, WalkToGroupPage(run)));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, log, IDCANCEL));
    ui::MessageBoxInfo box;
    ASSERT_EQ(WaitForBoxOrFinish(run.setup, &box), Next::Box) << "not told";
    EXPECT_EQ(box.text, TAKEN_BACK) << "asked again after Cancel";
    ASSERT_TRUE(ui::Answer(box.window, IDOK));
    DWORD code = 0;
    ASSERT_TRUE(ui::WaitForExit(run.setup, ui::WAIT_MS, &code));
    EXPECT_EQ(code, EXIT_TAKEN_BACK);

    EXPECT_EQ(FolderContents(run.folder), std::vector<std::wstring>{L"setup.log"});
    EXPECT_EQ(ReadText(kept), "the user's own file");
    EXPECT_FALSE(Exists(run.groupFolder));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY));
}

// The same, but the user moves the obstacle away and answers Retry: the
// log is then complete, and the uninstaller removes everything.
TEST(Faults, ASetupLogWrittenOnRetryRecordsTheWholeInstallation)
{
    Installation run(WorkRoot() + L"\\" + UniqueName(L"latelog"));
    const std::wstring log = run.folder + L"\\setup.log";
    ASSERT_TRUE(CreateDirectoryW(run.folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(log.c_str(), nullptr));

    ASSERT_TRUE(StartCopying(run, WalkToGroupPage(run)));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, log, IDRETRY));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, log, IDRETRY, [&] { RemoveTree(log); }));
    std::vector<std::wstring> boxes = FinishWizard(run.setup);
    EXPECT_TRUE(boxes.empty()) << "more messages:" << Listed(boxes);

    ExpectInstalled(run.folder);
    std::vector<LogLine> lines = ReadLog(run.folder);
    EXPECT_EQ(LogValue(lines, L"Common", L"ProgramName"), L"Murmelist");
    EXPECT_EQ(LogValue(lines, L"Files", L"Dir"), run.folder);
    for (const std::wstring& name : PayloadNames())
        EXPECT_EQ(LogValue(lines, L"Files", FileKey(name)), run.folder + L"\\" + name);
    EXPECT_EQ(Uninstall(run), L"");
    EXPECT_FALSE(Exists(run.folder));
}

// The user's Programs folder points nowhere: the group page lists nothing,
// and the installation goes on without a program group, making none in
// some other place.
TEST(Faults, WithoutAProgramsFolderTheInstallationGoesOnWithoutAGroup)
{
    const wchar_t USER_FOLDERS[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    const wchar_t FOLDERS[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    struct Saved {
        const wchar_t* key;
        DWORD type;
        std::vector<BYTE> data;
        bool found;
    } saved[] = {{USER_FOLDERS, 0, {}, false}, {FOLDERS, 0, {}, false}};
    for (Saved& value : saved) {
        DWORD size = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, value.key, L"Programs", RRF_RT_ANY | RRF_NOEXPAND,
                         &value.type, nullptr, &size) != ERROR_SUCCESS)
            continue;
        value.data.resize(size);
        value.found = RegGetValueW(HKEY_CURRENT_USER, value.key, L"Programs",
                                   RRF_RT_ANY | RRF_NOEXPAND, &value.type, value.data.data(),
                                   &size) == ERROR_SUCCESS;
    }
    ASSERT_TRUE(saved[0].found) << "no Programs entry among the user's shell folders";
    Finally restore{[&] {
        for (const Saved& value : saved)
            if (value.found)
                RegSetKeyValueW(HKEY_CURRENT_USER, value.key, L"Programs", value.type,
                                value.data.data(), (DWORD)value.data.size());
    }};

    Installation run(WorkRoot() + L"\\" + UniqueName(L"noprograms"));
    const std::wstring missing = WorkRoot() + L"\\" + UniqueName(L"gone") + L"\\Programs";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, USER_FOLDERS, L"Programs", REG_EXPAND_SZ,
                              missing.c_str(), (DWORD)((missing.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ASSERT_EQ(ProgramsFolder(), L"") << "the shell still finds a Programs folder";

    HWND groupPage = WalkToGroupPage(run);
    ASSERT_TRUE(groupPage);
    EXPECT_EQ(ui::ListItems(groupPage, IDC_GROUP_LIST), std::vector<std::wstring>());
    ASSERT_TRUE(StartCopying(run, groupPage));
    // The group and its two shortcuts are missing, and the page says so.
    std::vector<std::wstring> boxes = FinishWizard(run.setup, {}, Incomplete(3), EXIT_INCOMPLETE);
    EXPECT_TRUE(boxes.empty()) << "messages:" << Listed(boxes);

    ExpectInstalled(run.folder);
    std::vector<LogLine> log = ReadLog(run.folder);
    EXPECT_EQ(LogValue(log, L"Links", L"n"), L"0");
    EXPECT_EQ(LogValue(log, L"Links", L"Dir"), L"");
    EXPECT_FALSE(LogHas(log, L"Links", L"Link1"));
    EXPECT_FALSE(Exists(missing)) << "setup made the missing Programs folder";
    // An empty Programs path joined with the group would name a folder at a
    // drive's root or in the current directory.
    for (const std::wstring& place : {std::wstring(L"C:"), std::wstring(L"Z:"), run.startFolder})
        EXPECT_FALSE(Exists(place + L"\\" + run.group)) << ui::Narrow(place);

    restore.run();
    EXPECT_EQ(Uninstall(run), L"");
    EXPECT_FALSE(Exists(run.folder));
}

// Folders of the user's stand where the group's two shortcuts go. The
// first: Retry while it is still there asks again, Cancel skips it. The
// second: Retry once it is gone makes it. Only the shortcut made is
// logged, and the uninstaller removes exactly that.
TEST(Faults, AShortcutThatCannotBeSavedIsReportedAndOnlyWhatWasMadeIsLogged)
{
    Installation run(WorkRoot() + L"\\" + UniqueName(L"nolink"));
    const std::wstring first = run.groupFolder + L"\\Murmelist.lnk";
    const std::wstring second = run.groupFolder + L"\\Удалить Murmelist.lnk";
    ASSERT_TRUE(CreateDirectoryW(run.groupFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(first.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(second.c_str(), nullptr));

    ASSERT_TRUE(StartCopying(run, WalkToGroupPage(run)));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, first, IDRETRY, {}, CANNOT_MAKE_LINK));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(run.setup, first, IDCANCEL, {}, CANNOT_MAKE_LINK));
    ASSERT_NO_FATAL_FAILURE(AnswerRetryBox(
        run.setup, second, IDRETRY, [&] { RemoveDirectoryW(second.c_str()); }, CANNOT_MAKE_LINK));
    std::vector<std::wstring> boxes = FinishWizard(run.setup, {}, Incomplete(1), EXIT_INCOMPLETE);
    EXPECT_TRUE(boxes.empty()) << "more messages:" << Listed(boxes);

    ExpectInstalled(run.folder);
    std::vector<LogLine> log = ReadLog(run.folder);
    EXPECT_FALSE(LogHas(log, L"Links", L"Link1")) << "a shortcut never made is logged";
    EXPECT_EQ(LogValue(log, L"Links", L"Link2"), second);
    EXPECT_EQ(LogValue(log, L"Links", L"size"), std::to_wstring(FileSize(second)));
    EXPECT_TRUE(LogHas(log, L"RegUninst", L"SubKey"));

    // The user's folder goes away later; then nothing is left.
    ASSERT_TRUE(RemoveDirectoryW(first.c_str()));
    EXPECT_EQ(Uninstall(run), L"");
    EXPECT_FALSE(Exists(run.folder));
}

// The destination page refuses a folder in which the longest joined path
// (the folder, a backslash and the longest name installed below it: a
// payload file, "setup.log", a shortcut's target) would pass 259
// characters, before anything is made. A folder that just fits holds the
// whole installation: every file, the log, the shortcuts, the file type's
// quoted command (longer than any path) and the uninstaller's work.
TEST(LongFolder, AFolderTooLongIsRefusedAndOneThatJustFitsHoldsTheInstallation)
{
    size_t longest = std::wstring(L"murmlist.exe").size();
    for (const std::wstring& name : PayloadNames()) longest = std::max(longest, name.size());
    const size_t fits = MAX_PATH - 1 - 1 - longest;
    const std::wstring base = WorkRoot() + L"\\" + UniqueName(L"long") + L"-";
    auto folderOf = [&](size_t length) { return base + std::wstring(length - base.size(), L'a'); };

    Installation run(folderOf(fits));
    HWND destination = WalkToDestination(run.setup, StartSetup(&run.setup, {}, run.startFolder));
    ASSERT_TRUE(destination);
    const std::wstring tooLong = folderOf(250);
    ASSERT_TRUE(ui::SetControlText(destination, IDC_DEST_DIR, tooLong));
    ASSERT_TRUE(ui::Click(destination, IDC_NEXT));
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(run.setup.id, &box)) << "a folder of 250 characters was taken";
    EXPECT_EQ(box.caption, ERROR_CAPTION);
    EXPECT_EQ(box.text.substr(0, box.text.find(L"\n", wcslen(PATH_TOO_LONG))),
              PATH_TOO_LONG + tooLong);
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(box.owner, destination);
    ASSERT_TRUE(ui::Answer(box.window, IDOK));
    EXPECT_EQ(ui::FindPage(run.setup.id, DESTINATION), destination) << "the page did not stay";
    EXPECT_FALSE(Exists(tooLong)) << "the refused folder was made";

    HWND groupPage = WalkToGroup(run.setup, destination, run.folder);
    ASSERT_TRUE(groupPage) << "a folder of " << fits << " characters was refused";
    ASSERT_TRUE(StartCopying(run, groupPage));
    Finally removeFileType{[] {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"VarazAzadEvuz");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L".vdb");
    }};
    std::vector<std::wstring> boxes = FinishWizard(run.setup, {IDC_ASSOCIATE});
    EXPECT_TRUE(boxes.empty()) << "messages:" << Listed(boxes);
    ExpectInstalled(run.folder);
    std::vector<LogLine> log = ReadLog(run.folder);
    for (const std::wstring& name : PayloadNames())
        EXPECT_EQ(LogValue(log, L"Files", FileKey(name)), run.folder + L"\\" + name);
    EXPECT_EQ(LogValue(log, L"Links", L"n"), L"2");
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"UninstallString"),
              L"\"" + run.folder + L"\\uninst.exe\"");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L"VarazAzadEvuz\\DefaultIcon", nullptr),
              run.folder + L"\\murmlist.exe,1");
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L"VarazAzadEvuz\\shell\\open\\command", nullptr),
              L"\"" + run.folder + L"\\murmlist.exe\" \"%1\"");
    EXPECT_TRUE(LogHas(log, L"RegClass", L"Sub2"));
    EXPECT_EQ(Uninstall(run), L"");
    EXPECT_FALSE(Exists(run.folder));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"VarazAzadEvuz"));
}
