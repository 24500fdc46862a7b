// The shell's folder picker, opening at the installation folder, which
// takes the folder picked. It has that one use: the folder and the title
// are named here, not passed, and the title is carried behind the
// resources with the code.
#include "core/setup.h"
#include "core/texts.h"

#include <shlobj.h>

static int CALLBACK PickerCallback(HWND picker, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED)
        SendMessageA(picker, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

void BrowseForFolder(HWND owner)
{
    char* pathBuffer = g_setup.installFolder;
    LoadCommonControls();
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.lpszTitle = TEXT_BROWSE_TITLE;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = PickerCallback;
    info.lParam = (LPARAM)pathBuffer;
    LPITEMIDLIST list = SHBrowseForFolderA(&info);
    if (list) {
        // A pick with no file-system path (a virtual folder) must leave the
        // buffer as it was, so the path is taken aside first.
        char picked[PATH_SIZE];
        if (SHGetPathFromIDListA(list, picked))
            CopyString(pathBuffer, picked);
        // The shell's allocator is the task allocator.
        CoTaskMemFree(list);
    }
}
