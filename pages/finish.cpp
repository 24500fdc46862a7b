// The finish page: the ticked options are carried out when it closes, by
// its button or by the close box, and closing it ends the wizard.
#include "core/setup.h"
#include "core/texts.h"

#include <shellapi.h>
#include <shlobj.h>

static bool finished;

// An option whose program is not there (a file given up, or the user's
// own kept in its place and since gone) is not offered, and so is never
// ticked: nothing is made that would lead nowhere.
LATE_CODE static bool IsTicked(HWND page, int id)
{
    return IsWindowEnabled(GetDlgItem(page, id)) &&
           (SendDlgItemMessageA(page, id, BM_GETSTATE, 0, 0) & 1) != 0;
}

LATE_CODE static void OfferOption(HWND page, int id, const char* target)
{
    char program[PATH_SIZE];
    if (!JoinPath(program, g_setup.installFolder, target) || !IsFile(program))
        EnableWindow(GetDlgItem(page, id), FALSE);
}

// The page's first line says what became of the installation; the template
// says it succeeded, which is true only when nothing was given up.
LATE_CODE static void ShowOutcome(HWND page)
{
    if (g_setup.missingCount) {
        char text[MESSAGE_SIZE];
        wsprintfA(text, TEXT_INCOMPLETE, g_setup.missingCount);
        SetWindowTextA(GetWindow(GetDlgItem(page, IDC_FRAME), GW_HWNDNEXT), text);
    }
    OfferOption(page, IDC_STARTUP_LINK, g_setup.startupTarget);
    OfferOption(page, IDC_DESKTOP_LINK, g_setup.desktopTarget);
    OfferOption(page, IDC_RUN_PROGRAM, g_setup.runTarget);
    OfferOption(page, IDC_ASSOCIATE, PRODUCT_PROGRAM + 1);
}

// The product starts in its own folder, as its shortcuts start it.
LATE_CODE static void StartProduct(HWND page)
{
    char program[PATH_SIZE];
    if (JoinPath(program, g_setup.installFolder, g_setup.runTarget) &&
        (INT_PTR)ShellExecuteA(0, "open", program, 0, g_setup.installFolder, SW_SHOWDEFAULT) > 32)
        return;
    ShowProblem(page, MB_OK, TEXT_CANNOT_START, program);
}

LATE_CODE static void FinishInstallation(HWND page)
{
    // Startup before Desktop, although its box is the lower one.
    if (IsTicked(page, IDC_STARTUP_LINK))
        AddExtraShortcut(CSIDL_STARTUP, g_setup.startupName, g_setup.startupTarget);
    if (IsTicked(page, IDC_DESKTOP_LINK))
        AddExtraShortcut(CSIDL_DESKTOPDIRECTORY, g_setup.desktopName, g_setup.desktopTarget);
    if (IsTicked(page, IDC_RUN_PROGRAM))
        StartProduct(page);
    if (IsTicked(page, IDC_ASSOCIATE))
        RegisterFileType();
}

LATE_CODE INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ShowOutcome(page);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_NEXT) {
            SendMessageA(page, WM_CLOSE, 0, 0);
            return TRUE;
        }
        break;
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
