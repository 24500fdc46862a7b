// Every message box of the program goes through here.
#include "setup.h"
#include "texts.h"

int ShowMessage(HWND owner, const char* text, const char* caption, UINT type)
{
    return MessageBoxA(owner, text, caption, type);
}

int ShowError(HWND owner, const char* text, UINT type)
{
    return ShowMessage(owner, text, TEXT_ERROR_CAPTION, type);
}

bool AskRetry(HWND owner, const char* problem, const char* item)
{
    char text[MESSAGE_SIZE];
    JoinText(text, MESSAGE_SIZE, problem, item);
    return ShowError(owner, text, MB_RETRYCANCEL) == IDRETRY;
}
