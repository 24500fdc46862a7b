// The shell's folder picker, opening at the folder given in pathBuffer, a
// path buffer that takes the folder picked.
#include "core/setup.h"

#include <shlobj.h>

static int CALLBACK PickerCallback(HWND picker, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED)
        SendMessageA(picker, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

BOOL BrowseForFolder(const char* title, char* pathBuffer, HWND owner)
{
    LoadCommonControls();
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = PickerCallback;
    info.lParam = (LPARAM)pathBuffer;
    BOOL result = FALSE;
    LPITEMIDLIST list = SHBrowseForFolderA(&info);
    if (list) {
        // A pick with no file-system path (a virtual folder) must leave the
        // buffer as it was, so the path is taken aside first.
        char picked[PATH_SIZE];
        result = SHGetPathFromIDListA(list, picked);
        if (result)
            CopyString(pathBuffer, picked);
        // The shell's allocator is the task allocator.
        CoTaskMemFree(list);
    }
    return result;
}
