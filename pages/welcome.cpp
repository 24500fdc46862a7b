// The first page: a greeting; the user can only go on or leave.
#include "core/setup.h"

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    return HandleCommonPageMessage(page, message, wParam);
}
