// The DLL search of the setup and of the uninstaller: the system folder only.
#include "safeload.h"

void RestrictDllSearch()
{
    // kernel32 is in every process already: this only counts up its
    // references, and saves importing a second function to find it.
    // LoadLibraryA adds the ".dll" of a name without an extension.
    HMODULE kernel = LoadLibraryA("kernel32");
    SYSTEM_FUNCTION(SetDefaultDllDirectories) restrict =
        (SYSTEM_FUNCTION(SetDefaultDllDirectories))FindExport(kernel, "SetDefaultDllDirectories");
    // Where the system lacks it, the current folder at least leaves the
    // search.
    if (restrict)
        restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    else
        SetDllDirectoryA("");
}
