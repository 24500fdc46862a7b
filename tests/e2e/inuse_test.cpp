// Uninstalling while the product runs. After a full installation through
// the wizard, the test holds MurmList.exe open without sharing, as the
// running program holds its own file, and starts the uninstaller from the
// uninstall entry. The uninstaller asks to close the program; whatever the
// answer, nothing is left that no one will remove: the file goes on Retry,
// or at the next restart after Cancel, or, where the system will not note
// that, the uninstaller stays with its log and entry to be run again.
#include "wizard_support.h"

#include <aclapi.h>
#include <sddl.h>

using namespace wiz;

namespace {

const wchar_t CAPTION[] = L"Удаление программы";
const wchar_t RESTART_NOTE[] = L" (удаление при перезагрузке)";

// While it lives, no one may write the list of renames at the next restart,
// as on a machine whose policy denies it; it gives the key back its own
// access rules when it goes.
class RestartListDenied {
public:
    RestartListDenied()
    {
        PSECURITY_DESCRIPTOR denying = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        PACL denyingList = nullptr;
        ok_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, READ_CONTROL | WRITE_DAC, &key_) ==
                  ERROR_SUCCESS &&
              GetSecurityInfo(key_, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &ownList_, nullptr, &own_) == ERROR_SUCCESS &&
              ConvertStringSecurityDescriptorToSecurityDescriptorW(
                  L"D:(D;;KW;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1, &denying, nullptr) &&
              GetSecurityDescriptorDacl(denying, &present, &denyingList, &defaulted) &&
              SetSecurityInfo(key_, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              denyingList, nullptr) == ERROR_SUCCESS;
        if (denying) LocalFree(denying);
    }
    ~RestartListDenied()
    {
        if (own_) {
            SetSecurityInfo(key_, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            ownList_, nullptr);
            LocalFree(own_);
        }
        if (key_) RegCloseKey(key_);
    }
    bool ok() const { return ok_; }

private:
    HKEY key_ = nullptr;
    PSECURITY_DESCRIPTOR own_ = nullptr;
    PACL ownList_ = nullptr;
    bool ok_ = false;
};

// How one run of the uninstaller went.
struct Outcome {
    bool finished = false;             // its report was written
    DWORD exitCode = 99;               // the copy's; 99 when no copy was seen
    std::vector<std::wstring> boxes;   // the texts of the copy's boxes, in order
    std::wstring report;
};

using Answer = std::function<int(const ui::MessageBoxInfo&)>;

class InUse : public ::testing::Test {
protected:
    std::wstring folder = TestRoot() + L"\\" + UniqueName(L"in use");
    std::wstring group = UniqueName(L"Murm in use");
    std::wstring groupFolder = SpecialFolder(CSIDL_PROGRAMS) + L"\\" + group;
    std::wstring product = folder + L"\\MurmList.exe";
    std::wstring reportPath = TestRoot() + L"\\" + UniqueName(L"in-use-report") + L".txt";
    HANDLE held = INVALID_HANDLE_VALUE;

    void SetUp() override
    {
        ui::Process setup;
        HWND finish = Install(setup, StartSetup(&setup), folder, group);
        ASSERT_TRUE(finish);
        CloseFinish(setup, finish, {}, false);
        held = CreateFileW(product.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }

    void TearDown() override
    {
        Release();
        RenamesBelow(folder, true);
        RemoveTree(folder);
        RemoveTree(groupFolder);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY);
        DeleteFileW(reportPath.c_str());
    }

    void Release()
    {
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    }

    // Starts the command of the uninstall entry, as the list of installed
    // programs does, with arguments and a report. With answer it says Yes
    // to the first question and answers each box of the copy by answer;
    // without, no box may come. Returns once the report is written.
    Outcome Uninstall(const std::wstring& arguments, const Answer& answer)
    {
        Outcome outcome;
        std::wstring command = RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"UninstallString");
        if (command.size() < 3 || command.front() != L'"' || command.back() != L'"') {
            ADD_FAILURE() << "UninstallString: " << ui::Narrow(command);
            return outcome;
        }
        DeleteFileW(reportPath.c_str());
        ui::Launch launch;
        launch.program = command.substr(1, command.size() - 2);
        launch.arguments = arguments + L" \"/report:" + reportPath + L"\"";
        launch.currentDirectory = L"C:\\";
        ui::Process original, copy;
        std::wstring error;
        if (!ui::Start(launch, &original, &error)) {
            ADD_FAILURE() << ui::Narrow(error);
            return outcome;
        }
        ui::MessageBoxInfo box;
        if (answer && !(ui::WaitForMessageBox(original.id, &box) && ui::Answer(box.window, IDYES))) {
            ADD_FAILURE() << "no question before the removal";
            return outcome;
        }
        // The copy in the temporary folder carries the original's id in its name.
        const std::wstring copyName = L"\\murm-uninst-" + std::to_wstring(original.id) + L"-";
        outcome.finished = ui::WaitUntil(
            [&] {
                if (Exists(reportPath)) return true;
                for (HWND window : ui::TopLevelWindows(0)) {
                    DWORD id = ui::WindowProcess(window);
                    if (ui::ProcessImage(id).find(copyName) == std::wstring::npos) continue;
                    if (!copy.handle) {
                        copy.handle = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE |
                                                      PROCESS_QUERY_LIMITED_INFORMATION,
                                                  FALSE, id);
                        copy.id = id;
                    }
                    HWND found = ui::FindMessageBox(id);
                    if (!found || !ui::ReadWholeMessageBox(found, &box)) return false;
                    EXPECT_EQ(box.caption, CAPTION);
                    outcome.boxes.push_back(box.text);
                    if (!answer) ADD_FAILURE() << "a box without questions: " << ui::Narrow(box.text);
                    ui::Answer(found, answer ? answer(box) : IDCANCEL);
                    return false;
                }
                return false;
            },
            30000);
        if (copy.handle) ui::WaitForExit(copy, ui::WAIT_MS, &outcome.exitCode);
        ReadFinishedReport(reportPath, &outcome.report);
        return outcome;
    }

    // Everything but the file held open and what the next run needs.
    void ExpectTheRestGone()
    {
        for (const std::wstring& name : PayloadNames()) {
            if (name == L"MurmList.exe" || name == L"uninst.exe") continue;
            EXPECT_FALSE(Exists(folder + L"\\" + name)) << ui::Narrow(name);
        }
        EXPECT_FALSE(Exists(groupFolder));
    }
};

::testing::AssertionResult Mentions(const std::wstring& text, const std::wstring& part)
{
    if (text.find(part) != std::wstring::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << ui::Narrow(part) << "\" not in: " << ui::Narrow(text);
}

int CancelWhenAsked(const ui::MessageBoxInfo& box)
{
    return box.buttons == std::vector<int>{IDRETRY, IDCANCEL} ? IDCANCEL : IDOK;
}

}  // namespace

TEST_F(InUse, CancelLeavesTheFileAndItsFolderToTheNextRestart)
{
    Outcome outcome = Uninstall(L"", CancelWhenAsked);
    ASSERT_TRUE(outcome.finished) << "the uninstaller did not finish";
    ASSERT_EQ(outcome.boxes.size(), 2u);
    EXPECT_TRUE(Mentions(outcome.boxes[0], L"используется другой программой"));
    EXPECT_TRUE(Mentions(outcome.boxes[0], product));
    EXPECT_TRUE(Mentions(outcome.boxes[1], L"при следующей перезагрузке"));
    EXPECT_TRUE(Mentions(outcome.boxes[1], product));
    EXPECT_EQ(outcome.exitCode, 3u);
    EXPECT_EQ(outcome.report, product + RESTART_NOTE + L"\r\n" + folder + RESTART_NOTE + L"\r\n");
    // The file first: its folder can go only once it is empty.
    EXPECT_EQ(RenamesBelow(folder), (Renames{{L"\\??\\" + product, L""}, {L"\\??\\" + folder, L""}}));
    EXPECT_TRUE(Exists(product));
    EXPECT_FALSE(Exists(folder + L"\\uninst.exe"));
    EXPECT_FALSE(Exists(folder + L"\\setup.log"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY));
    ExpectTheRestGone();
}

// Without the right to note deletions for the restart, the uninstaller
// keeps itself, its log and its entry (with /quiet it asks nothing and does
// the same); run again from the entry, Retry once the program is closed
// finishes the job.
TEST_F(InUse, WhereTheRestartCannotTakeTheFileTheNextRunFinishes)
{
    {
        RestartListDenied denied;
        ASSERT_TRUE(denied.ok());
        Outcome outcome = Uninstall(L"", CancelWhenAsked);
        ASSERT_TRUE(outcome.finished) << "the uninstaller did not finish";
        ASSERT_EQ(outcome.boxes.size(), 2u);
        EXPECT_TRUE(Mentions(outcome.boxes[1], L"запустите удаление ещё раз"));
        EXPECT_EQ(outcome.exitCode, 1u);
        EXPECT_EQ(outcome.report, product + L"\r\n");

        Outcome quiet = Uninstall(L"/quiet", nullptr);
        ASSERT_TRUE(quiet.finished) << "the uninstaller did not finish";
        EXPECT_EQ(quiet.report, product + L"\r\n");
    }
    EXPECT_EQ(RenamesBelow(folder), Renames());
    EXPECT_TRUE(Exists(product));
    EXPECT_TRUE(Exists(folder + L"\\uninst.exe"));
    EXPECT_TRUE(Exists(folder + L"\\setup.log"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY));
    ExpectTheRestGone();

    Outcome last = Uninstall(L"", [&](const ui::MessageBoxInfo& box) {
        if (box.buttons != std::vector<int>{IDRETRY, IDCANCEL}) return IDOK;
        Release();
        return IDRETRY;
    });
    ASSERT_TRUE(last.finished) << "the uninstaller did not finish";
    ASSERT_EQ(last.boxes.size(), 2u);
    EXPECT_TRUE(Mentions(last.boxes[0], product));
    EXPECT_TRUE(Mentions(last.boxes[1], L"удалена с компьютера"));
    EXPECT_EQ(last.exitCode, 0u);
    EXPECT_EQ(ui::Narrow(last.report), "");
    EXPECT_FALSE(Exists(folder));
    EXPECT_FALSE(Exists(groupFolder));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY));
    EXPECT_EQ(RenamesBelow(folder), Renames());
}

// A setup started while the uninstaller works is refused, whether the
// original asks its first question or its copy asks about the file in use
// (the copy holds what its original took); the uninstaller then finishes.
TEST_F(InUse, ASetupStartedWhileTheUninstallerWorksWaitsItsTurn)
{
    const std::wstring command = RegistryText(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY, L"UninstallString");
    {
        ui::Launch launch;
        launch.program = command.substr(1, command.size() - 2);
        launch.currentDirectory = L"C:\\";
        ui::Process original;
        ASSERT_TRUE(ui::Start(launch, &original));
        ui::MessageBoxInfo box;
        ASSERT_TRUE(ui::WaitForMessageBox(original.id, &box)) << "no question before the removal";
        ExpectRefused(SetupExe(), ERROR_CAPTION);
        ASSERT_TRUE(ui::Answer(box.window, IDNO));
        DWORD code = 1;
        ASSERT_TRUE(ui::WaitForExit(original, ui::WAIT_MS, &code));
        EXPECT_EQ(code, 0u);
    }
    Outcome outcome = Uninstall(L"", [&](const ui::MessageBoxInfo& box) {
        if (box.buttons != std::vector<int>{IDRETRY, IDCANCEL}) return IDOK;
        ExpectRefused(SetupExe(), ERROR_CAPTION);
        Release();
        return IDRETRY;
    });
    EXPECT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_EQ(outcome.report, L"");
    EXPECT_FALSE(Exists(folder));
}
