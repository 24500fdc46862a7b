// The agreement page: Next is enabled only while "accept" is chosen, and
// every visit starts declined.
#include "core/setup.h"

// The resource has no terminator, so the edit box gets a NUL-terminated
// copy of exactly its bytes.
LATE_CODE static void ShowAgreementText(HWND page)
{
    uint32_t size;
    const char* agreement = (const char*)LockDataResource(IDR_AGREEMENT, &size);
    if (!agreement)
        return;
    // Fresh pages are zero: the byte behind the copy is its terminator.
    char* text = (char*)VirtualAlloc(0, size + 1, MEM_COMMIT, PAGE_READWRITE);
    if (!text)
        return;
    memcpy(text, agreement, size);
    SetDlgItemTextA(page, IDC_AGREEMENT_TEXT, text);
    VirtualFree(text, 0, MEM_RELEASE);
}

LATE_CODE INT_PTR CALLBACK AgreementPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
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
        case IDC_NEXT:
            EndDialog(page, PAGE_NEXT);
            return TRUE;
        }
        break;
    }
    return HandleCommonPageMessage(page, message, wParam);
}
