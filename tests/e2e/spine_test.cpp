// The wizard's first two pages and the way out of it, driven from outside
// the running setup.exe.
#include "wizard_support.h"

using namespace wiz;

namespace {

// The exit question as it must look on every page before the finish page.
void ExpectExitQuestion(const ui::MessageBoxInfo& box, HWND page)
{
    EXPECT_EQ(box.caption, EXIT_CAPTION);
    EXPECT_EQ(box.text, EXIT_QUESTION);
    EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(box.defaultButton, IDYES);
    EXPECT_FALSE(box.hasIcon);
    EXPECT_EQ(box.owner, page);
}

// Asks to leave page (by Cancel or by the close box), checks the question,
// answers No and checks that the page stayed.
void AskAndStay(const ui::Process& setup, HWND page, bool closeBox)
{
    SCOPED_TRACE(closeBox ? "close box" : "Cancel");
    std::wstring caption = ui::WindowText(page);
    ASSERT_TRUE(closeBox ? ui::Close(page) : ui::Click(page, IDC_CANCEL));
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box)) << "no exit question";
    ExpectExitQuestion(box, page);
    ASSERT_TRUE(ui::Answer(box.window, IDNO));
    EXPECT_TRUE(ui::NoMessageBoxFor(setup.id));
    EXPECT_TRUE(ui::IsRunning(setup));
    EXPECT_TRUE(IsWindow(page) && IsWindowVisible(page));
    EXPECT_EQ(ui::WindowText(page), caption);
}

std::wstring AgreementFileText()
{
    std::string bytes;
    EXPECT_TRUE(ui::ReadFileBytes(SourcePath("resources/agreement.txt"), &bytes));
    return ui::FromCodePage(bytes, 1251);
}

}  // namespace

TEST(Spine, BackOnTheAgreementPageReturnsToTheWelcomePage)
{
    ui::Process setup;
    HWND welcome = StartSetup(&setup);
    ASSERT_TRUE(welcome);
    EXPECT_FALSE(ui::HasControl(welcome, IDC_BACK)) << "the welcome page has no Back button";

    HWND agreement = PressAndWaitFor(setup, welcome, IDC_NEXT, AGREEMENT);
    ASSERT_TRUE(agreement);
    welcome = PressAndWaitFor(setup, agreement, IDC_BACK, WELCOME);
    ASSERT_TRUE(welcome);
    EXPECT_FALSE(IsWindow(agreement) && IsWindowVisible(agreement));

    // Leaving from the welcome page through the close box ends with 0 too.
    ASSERT_TRUE(ui::Close(welcome));
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box));
    ExpectExitQuestion(box, welcome);
    ASSERT_TRUE(ui::Answer(box.window, IDYES));
    DWORD code = 1;
    ASSERT_TRUE(ui::WaitForExit(setup, ui::WAIT_MS, &code));
    EXPECT_EQ(code, 0u);
}

TEST(Spine, LeavingAsksFirstAndNoKeepsThePageAsItWas)
{
    ui::Process setup;
    HWND welcome = StartSetup(&setup);
    ASSERT_TRUE(welcome);
    AskAndStay(setup, welcome, false);
    AskAndStay(setup, welcome, true);

    HWND agreement = PressAndWaitFor(setup, welcome, IDC_NEXT, AGREEMENT);
    ASSERT_TRUE(agreement);
    ASSERT_TRUE(ui::WaitUntil([&] { return !ui::ControlText(agreement, IDC_AGREEMENT_TEXT).empty(); }));
    ASSERT_TRUE(Accept(agreement));
    std::wstring text = ui::ControlText(agreement, IDC_AGREEMENT_TEXT);

    AskAndStay(setup, agreement, false);
    AskAndStay(setup, agreement, true);
    EXPECT_EQ(ui::CheckState(agreement, IDC_ACCEPT), BST_CHECKED);
    EXPECT_EQ(ui::CheckState(agreement, IDC_DECLINE), BST_UNCHECKED);
    EXPECT_TRUE(ui::IsEnabled(agreement, IDC_NEXT));
    EXPECT_EQ(ui::ControlText(agreement, IDC_AGREEMENT_TEXT), text);

    // Escape and Enter (the dialog manager's IDCANCEL and IDOK) do nothing.
    PostMessageW(agreement, WM_COMMAND, IDCANCEL, 0);
    PostMessageW(agreement, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(ui::NoMessageBoxFor(setup.id));
    EXPECT_EQ(ui::FindPage(setup.id, AGREEMENT), agreement);

    LeaveWizard(setup, agreement);
}

TEST(Spine, AgreementNextFollowsTheChoiceAndEveryVisitStartsDeclined)
{
    ui::Process setup;
    HWND welcome = StartSetup(&setup);
    ASSERT_TRUE(welcome);
    HWND agreement = PressAndWaitFor(setup, welcome, IDC_NEXT, AGREEMENT);
    ASSERT_TRUE(agreement);

    auto expectDeclined = [&](const char* when) {
        SCOPED_TRACE(when);
        EXPECT_EQ(ui::CheckState(agreement, IDC_DECLINE), BST_CHECKED);
        EXPECT_EQ(ui::CheckState(agreement, IDC_ACCEPT), BST_UNCHECKED);
        EXPECT_FALSE(ui::IsEnabled(agreement, IDC_NEXT));
        EXPECT_FALSE(ui::Click(agreement, IDC_NEXT));
    };
    expectDeclined("first visit");

    ASSERT_TRUE(ui::ClickNow(agreement, IDC_ACCEPT));
    EXPECT_TRUE(ui::WaitUntil([&] { return ui::IsEnabled(agreement, IDC_NEXT); }, 3000));
    ASSERT_TRUE(ui::ClickNow(agreement, IDC_DECLINE));
    EXPECT_TRUE(ui::WaitUntil([&] { return !ui::IsEnabled(agreement, IDC_NEXT); }, 3000));
    EXPECT_EQ(ui::CheckState(agreement, IDC_ACCEPT), BST_UNCHECKED);

    // Accepted, then back to the welcome page and forward: declined again.
    ASSERT_TRUE(Accept(agreement));
    welcome = PressAndWaitFor(setup, agreement, IDC_BACK, WELCOME);
    ASSERT_TRUE(welcome);
    agreement = PressAndWaitFor(setup, welcome, IDC_NEXT, AGREEMENT);
    ASSERT_TRUE(agreement);
    expectDeclined("after Back and Next");

    // Accepted, on to the destination page and back: declined again.
    ASSERT_TRUE(Accept(agreement));
    HWND destination = PressAndWaitFor(setup, agreement, IDC_NEXT, DESTINATION);
    ASSERT_TRUE(destination);
    agreement = PressAndWaitFor(setup, destination, IDC_BACK, AGREEMENT);
    ASSERT_TRUE(agreement);
    expectDeclined("back from the destination page");

    LeaveWizard(setup, agreement);
}

TEST(Spine, TheAgreementTextIsShownWhole)
{
    std::wstring expected = AgreementFileText();
    ASSERT_FALSE(expected.empty());
    ASSERT_NE(expected.find(L"\r\n"), std::wstring::npos) << "the agreement has CR LF line ends";

    ui::Process setup;
    HWND welcome = StartSetup(&setup);
    ASSERT_TRUE(welcome);
    HWND agreement = PressAndWaitFor(setup, welcome, IDC_NEXT, AGREEMENT);
    ASSERT_TRUE(agreement);
    std::wstring shown;
    ui::WaitUntil([&] { return !(shown = ui::ControlText(agreement, IDC_AGREEMENT_TEXT)).empty(); });
    EXPECT_EQ(shown.size(), expected.size());
    EXPECT_TRUE(shown == expected) << "the text box does not hold the agreement unchanged";

    // Shown again on the next visit, not appended or lost.
    welcome = PressAndWaitFor(setup, agreement, IDC_BACK, WELCOME);
    ASSERT_TRUE(welcome);
    agreement = PressAndWaitFor(setup, welcome, IDC_NEXT, AGREEMENT);
    ASSERT_TRUE(agreement);
    ui::WaitUntil([&] { return !(shown = ui::ControlText(agreement, IDC_AGREEMENT_TEXT)).empty(); });
    EXPECT_TRUE(shown == expected);

    LeaveWizard(setup, agreement);
}
