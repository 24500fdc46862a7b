// The agreement page: Next is enabled only while "accept" is chosen, and
// every visit starts declined.
#include "core/setup.h"

// The resource has no terminator, so the edit box gets a NUL-terminated
// copy of its bytes, made in the large buffer: the check of the setup's
// own file is done with it, and the list of the restart's deletions does
// not need it before the copying page. An agreement larger than that (no
// edit box shows so much) is cut there.
LATE_CODE static void ShowAgreementText(HWND page)
{
    uint32_t size;
    const char* agreement = (const char*)LockDataResource(IDR_AGREEMENT, &size);
    if (!agreement)
        return;
    char* text = (char*)g_scratch;
    uint32_t kept = size < SCRATCH_SIZE ? size : SCRATCH_SIZE - 1;
    // The copy's end is where the terminator goes.
    *(char*)__builtin_mempcpy(text, agreement, kept) = 0;
    SetDlgItemTextA(page, IDC_AGREEMENT_TEXT, text);
}

INT_PTR CALLBACK AgreementPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // The click selects "decline" and, through its notification,
        // disables Next.
        SendDlgItemMessageA(page, IDC_DECLINE, BM_CLICK, 0, 0);
        // The text goes in once the page is on screen.
        PostMessageA(page, MSG_SHOW_TEXT, 0, 0);
        return TRUE;
    case MSG_SHOW_TEXT:
        ShowAgreementText(page);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ACCEPT:
        case IDC_DECLINE:
            EnableWindow(GetDlgItem(page, IDC_NEXT), LOWORD(wParam) == IDC_ACCEPT);
            return TRUE;
        }
        break;
    }
    return HandleCommonPageMessage(page, message, wParam);
}
