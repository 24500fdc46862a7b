// Entry point. There is no run-time library, so nothing runs before this.
#include "setup.h"

extern "C" __attribute__((used)) void WinMainCRTStartup()
{
    // The command line is ignored, so it is not even fetched.
    int result = RunWizard(GetModuleHandleA(0), 0, 0, SW_SHOWDEFAULT);
    ExitProcess((UINT)result);
}
