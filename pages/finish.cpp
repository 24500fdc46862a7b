// The finish page: the ticked options are carried out when it closes, by
// its button or by the close box, and closing it ends the wizard.
#include "core/setup.h"
#include "core/texts.h"

#include <shellapi.h>
#include <shlobj.h>
#include <stddef.h>

static bool finished;

// The options in the order they are carried out (Startup before Desktop,
// although its box is the lower one), each as its box's id less
// IDC_DESKTOP_LINK.
static const unsigned char OPTIONS[] = {IDC_STARTUP_LINK - IDC_DESKTOP_LINK, 0,
                                        IDC_RUN_PROGRAM - IDC_DESKTOP_LINK,
                                        IDC_ASSOCIATE - IDC_DESKTOP_LINK};
const int OPTION_COUNT = sizeof OPTIONS;

// The program an option leads to: the first three name theirs in the
// setup strings, which stand a target and a name apart; the file type
// names the product program.
static_assert(offsetof(SetupState, desktopTarget) - offsetof(SetupState, startupTarget) ==
                      2 * PATH_SIZE &&
                  offsetof(SetupState, runTarget) - offsetof(SetupState, desktopTarget) ==
                      2 * PATH_SIZE,
              "the options' targets are found by their distance");
LATE_CODE static const char* OptionTarget(int option)
{
    return option < 3 ? g_setup.startupTarget + option * 2 * PATH_SIZE : PRODUCT_PROGRAM + 1;
}

// The page's first line says what became of the installation; the template
// says it succeeded, which is true only when nothing was given up. An
// option whose program is not there (a file given up, or the user's own
// kept in its place and since gone) is not offered, and so is never
// ticked: nothing is made that would lead nowhere.
LATE_CODE static void ShowOutcome(HWND page)
{
    if (g_setup.missingCount) {
        char text[MESSAGE_SIZE];
        wsprintfA(text, TEXT_INCOMPLETE, g_setup.missingCount);
        // That line is the page's one control without an id of its own.
        SetDlgItemTextA(page, -1, text);
    }
    for (int option = 0; option < OPTION_COUNT; ++option) {
        char program[PATH_SIZE];
        if (!JoinPath(program, g_setup.installFolder, OptionTarget(option)) || !IsFile(program))
            EnableWindow(GetDlgItem(page, IDC_DESKTOP_LINK + OPTIONS[option]), FALSE);
    }
}

// The product starts in its own folder and by its default verb (open, for
// a program), as its shortcuts start it.
static void StartProduct(HWND page, const char* target)
{
    char program[PATH_SIZE];
    const char* folder = g_setup.installFolder;
    HOLD_ADDRESS(folder);
    if (JoinPath(program, folder, target) &&
        (INT_PTR)ShellExecuteA(0, 0, program, 0, folder, SW_SHOWDEFAULT) > 32)
        return;
    ShowFailure(page, TEXT_CANNOT_START, program);
}

// A box left disabled is never ticked: the user cannot reach it.
LATE_CODE static void FinishInstallation(HWND page)
{
    for (int option = 0; option < OPTION_COUNT; ++option) {
        if (!(SendDlgItemMessageA(page, IDC_DESKTOP_LINK + OPTIONS[option], BM_GETSTATE, 0, 0) & 1))
            continue;
        const char* target = OptionTarget(option);
        if (option == 3)
            RegisterFileType();
        else if (option == 2)
            StartProduct(page, target);
        else
            AddExtraShortcut(CSIDL_STARTUP + option * (CSIDL_DESKTOPDIRECTORY - CSIDL_STARTUP),
                             target + PATH_SIZE, target);
    }
}

INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ShowOutcome(page);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDC_NEXT)
            break;
        // The button closes the page as the close box does.
        [[fallthrough]];
    case WM_CLOSE:
        // No exit question here: the installation is done. A second close
        // arriving before the page is gone must not repeat the steps.
        if (!finished) {
            finished = true;
            FinishInstallation(page);
            EndDialog(page, PAGE_EXIT);
        }
        return TRUE;
    }
    return FALSE;
}
