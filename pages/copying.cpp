// The copying page: runs the whole installation as soon as it is shown,
// then moves on by itself.
#include "core/setup.h"
#include "core/texts.h"

#include <commctrl.h>

// The sequence runs inside one message; a close request that slips in
// through a modal question meanwhile is not serviced. It stays set: the
// sequence ends the page, and the page is not shown again.
static bool installing;

// The sequence pumps no messages, so what changes is painted at once.
static void ChangeItem(HWND page, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND item = GetDlgItem(page, id);
    SendMessageA(item, message, wParam, lParam);
    UpdateWindow(item);
}

static void ShowStatus(HWND page, const char* text)
{
    SendMessageA(page, WM_SETTEXT, 0, (LPARAM)text);
    ChangeItem(page, IDC_STATUS_TEXT, WM_SETTEXT, 0, (LPARAM)text);
}

static void RunInstallSequence(HWND page)
{
    installing = true;
    // The folder may have been taken away since the destination page made
    // sure of it; without it nothing could be written or logged.
    const char* folder = g_setup.installFolder;
    HOLD_ADDRESS(folder);
    KeepFromRestartDeletion(folder);
    if (!PathExists(folder) && CreateDirectoryA(folder, 0))
        g_setup.madeFolder = true;
    uint32_t size;
    const unsigned char* archive = LockDataResource(IDR_PAYLOAD, &size);
    ShowStatus(page, TEXT_COPYING_STATUS);
    // The uninstaller and the log it reads are what make the installation
    // undoable (nothing is made that the log does not name first); without
    // either nothing more is made, and what was made is taken back.
    int result = PAGE_NEXT;
    if (ExtractPayload(archive, size, page) && IsFile(g_setup.logPath)) {
        ShowStatus(page, TEXT_SHORTCUT_STATUS);
        CreateGroupFolder();
        CreateGroupShortcuts();
        RegisterUninstall();
        SendMessageA(page, MSG_UPDATE_PROGRESS, 0, 0);
        Sleep(20);
    } else {
        TakeBackPayload();
        ShowError(page, TEXT_TAKEN_BACK, MB_OK);
        g_setup.exitCode = EXIT_TAKEN_BACK;
        result = PAGE_EXIT;
    }
    EndDialog(page, result);
}

INT_PTR CALLBACK CopyingPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // Shown once a run (it has no Back): the bar counts from the
        // record's zero.
        NameLog();
        SendDlgItemMessageA(page, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 110));
        Sleep(20);
        PostMessageA(page, MSG_RUN_INSTALL, 0, 0);
        return TRUE;
    case MSG_RUN_INSTALL:
        RunInstallSequence(page);
        return TRUE;
    case MSG_UPDATE_PROGRESS:
        ChangeItem(page, IDC_PROGRESS, PBM_SETPOS, g_setup.progress, 0);
        return TRUE;
    case WM_CLOSE:
        if (installing)
            return TRUE;
        break;
    }
    return HandleCommonPageMessage(page, message, wParam);
}
