// The finish page: the ticked options are carried out when it closes, by
// its button or by the close box, and closing it ends the wizard.
#include "core/setup.h"

#include <shellapi.h>
#include <shlobj.h>

static bool finished;

static bool IsTicked(HWND page, int id)
{
    return (SendDlgItemMessageA(page, id, BM_GETSTATE, 0, 0) & 1) != 0;
}

// The product starts in its own folder, as its shortcuts start it.
static void StartProduct()
{
    char program[PATH_SIZE];
    if (JoinPath(program, g_setup.installFolder, g_setup.runTarget))
        ShellExecuteA(0, "open", program, 0, g_setup.installFolder, SW_SHOWDEFAULT);
}

static void FinishInstallation(HWND page)
{
    // Startup before Desktop, although its box is the lower one.
    if (IsTicked(page, IDC_STARTUP_LINK))
        AddExtraShortcut(CSIDL_STARTUP, g_setup.startupName, g_setup.startupTarget);
    if (IsTicked(page, IDC_DESKTOP_LINK))
        AddExtraShortcut(CSIDL_DESKTOPDIRECTORY, g_setup.desktopName, g_setup.desktopTarget);
    if (IsTicked(page, IDC_RUN_PROGRAM))
        StartProduct();
    if (IsTicked(page, IDC_ASSOCIATE))
        RegisterFileType();
}

INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
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
