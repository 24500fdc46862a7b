// Entry point. There is no run-time library, so nothing runs before this.
#include "setup.h"

extern "C" void WinMainCRTStartup()
{
    int result = RunWizard(GetModuleHandleA(0), 0, GetCommandLineA(), SW_SHOWDEFAULT);
    ExitProcess((UINT)result);
}
