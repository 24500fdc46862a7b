// Entry point. There is no run-time library, so nothing runs before this.
#include "setup.h"

// The linker's name for where the image starts: the instance handle,
// without a call to ask for it.
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" __attribute__((used)) void WinMainCRTStartup()
{
    // The command line is ignored, so it is not even fetched.
    int result = RunWizard((HINSTANCE)&__ImageBase, 0, 0, SW_SHOWDEFAULT);
    ExitProcess((UINT)result);
}
