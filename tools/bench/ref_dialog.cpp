// The yardstick for the time to the first page: a program that shows the
// welcome page's template as a modal dialog and does nothing else. It
// imports only what showing a dialog needs.
#include <windows.h>

#include "ids.h"

static INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_NEXT || LOWORD(wParam) == IDC_CANCEL)
            EndDialog(page, 0);
        return TRUE;
    case WM_CLOSE:
        EndDialog(page, 0);
        return TRUE;
    }
    return FALSE;
}

extern "C" __attribute__((used)) void WinMainCRTStartup()
{
    DialogBoxParamA(GetModuleHandleA(0), MAKEINTRESOURCEA(IDD_WELCOME), 0, PageProc, 0);
    ExitProcess(0);
}
