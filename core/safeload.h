// Restricting where DLLs are loaded from: the first thing the setup and the
// uninstaller (and the uninstaller's copy) do. Both are started from folders
// that others may write to (a download folder, the temporary folder, an
// installation folder below a drive's root), where a planted DLL with a
// system DLL's name would otherwise be found first.
#ifndef MURM_SAFELOAD_H
#define MURM_SAFELOAD_H

#include <windows.h>

// A function looked up at run time has the type of the system's own
// declaration of it, calling convention and parameters included, never a
// hand-written one: on 32-bit Windows a wrong convention would unbalance
// the stack on every call, and nothing in a 64-bit build would show it.
#define SYSTEM_FUNCTION(name) decltype(&name)

// An export, as the one generic function type from which every
// SYSTEM_FUNCTION may be cast.
inline void (*FindExport(HMODULE module, LPCSTR name))()
{
    return (void (*)())GetProcAddress(module, name);
}

// Everything loaded after start-up comes from the system folder only. The
// static imports must all be KnownDLLs, which Windows takes from there
// whatever lies beside the program.
void RestrictDllSearch();

#endif
