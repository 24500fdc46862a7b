// The agreement page: Next is enabled only while "accept" is chosen, and
// every visit starts declined.
#include "core/setup.h"

static uint32_t agreementSize;

// The resource has no terminator, so the edit box gets a NUL-terminated
// copy of exactly its bytes.
static void ShowAgreementText(HWND page)
{
    if (!g_setup.agreementText)
        return;
    HANDLE heap = GetProcessHeap();
    char* text = (char*)HeapAlloc(heap, 0, agreementSize + 1);
    if (!text)
        return;
    for (uint32_t i = 0; i < agreementSize; ++i)
        text[i] = g_setup.agreementText[i];
    text[agreementSize] = 0;
    SetDlgItemTextA(page, IDC_AGREEMENT_TEXT, text);
    HeapFree(heap, 0, text);
}

INT_PTR CALLBACK AgreementPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // The click selects "decline" and, through its notification,
        // disables Next.
        SendDlgItemMessageA(page, IDC_DECLINE, BM_CLICK, 0, 0);
        g_setup.agreementText = (const char*)LockDataResource(IDR_AGREEMENT, &agreementSize);
        // The text goes in once the page is on screen.
        PostMessageA(page, MSG_SHOW_TEXT, 0, 0);
        return TRUE;
    case MSG_SHOW_TEXT:
        ShowAgreementText(page);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_ACCEPT:
            EnableWindow(GetDlgItem(page, IDC_NEXT), TRUE);
            return TRUE;
        case IDC_DECLINE:
            EnableWindow(GetDlgItem(page, IDC_NEXT), FALSE);
            return TRUE;
        case IDC_NEXT:
            EndDialog(page, PAGE_NEXT);
            return TRUE;
        }
        break;
    }
    return HandleCommonPageMessage(page, message, wParam);
}
