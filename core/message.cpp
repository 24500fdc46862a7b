// Every message box of the program goes through here.
#include "setup.h"
#include "texts.h"

int ShowMessage(HWND owner, const char* text, const char* caption, UINT type)
{
    return MessageBoxA(owner, text, caption, type);
}

// Out of line: every box with the error caption is one call of it.
__attribute__((noinline)) int ShowError(HWND owner, const char* text, UINT type)
{
    return ShowMessage(owner, text, TEXT_ERROR_CAPTION, type);
}

int ShowProblem(HWND owner, UINT type, const char* a, const char* b, const char* c, const char* d)
{
    // Not on the stack, where the pieces passed on would lie a buffer's
    // length away. The box takes its copy of the text when it is made, so
    // a box shown while another is up may use the buffer again.
    static char buffer[MESSAGE_SIZE];
    char* text = buffer;
    HOLD_ADDRESS(text);
    JoinText(text, MESSAGE_SIZE, a, b, c, d);
    return ShowError(owner, text, type);
}

LATE_CODE void ShowRefusal(HWND page, const char* problem, const char* item)
{
    ShowProblem(page, MB_OK, problem, item);
}

// Kept out of line, so that the pieces it leaves empty are passed once.
__attribute__((noinline)) int ShowCannot(HWND owner, UINT type, const char* what,
                                         const char* item)
{
    return ShowProblem(owner, type, TEXT_CANNOT, what, item);
}

LATE_CODE void ShowFailure(HWND page, const char* what, const char* item)
{
    ShowCannot(page, MB_OK, what, item);
}

bool AskRetry(HWND owner, const char* what, const char* item)
{
    return ShowCannot(owner, MB_RETRYCANCEL, what, item) == IDRETRY;
}
