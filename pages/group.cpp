// The program group page: the name of the Start-menu folder for the
// shortcuts, typed or picked from the folders already there.
#include "core/setup.h"
#include "core/texts.h"

#include <shlobj.h>

// The folder is a path the shell named.
void FillGroupList(HWND list, const char* folder)
{
    char pattern[PATH_SIZE];
    if (!JoinPath(pattern, folder, "*"))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        // Plain folders only: one with any other attribute is not offered.
        if (found.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY && found.cFileName[0] != '.')
            SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

int IsValidGroupName(const char* name)
{
    for (; *name; ++name)
        for (const char* bad = "?|*:\\/\"<>"; *bad; ++bad)
            if (*name == *bad)
                return 0;
    return 1;
}

static void CopySelectedGroup(HWND page)
{
    LRESULT selected = SendDlgItemMessageA(page, IDC_GROUP_LIST, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR)
        return;
    // The items are folder names that FillGroupList took from the file
    // system, none longer than a name can be.
    char name[PATH_SIZE];
    SendDlgItemMessageA(page, IDC_GROUP_LIST, LB_GETTEXT, selected, (LPARAM)name);
    SetDlgItemTextA(page, IDC_GROUP_NAME, name);
}

static void ConfirmGroup(HWND page)
{
    char name[PATH_SIZE];
    SendDlgItemMessageA(page, IDC_GROUP_NAME, WM_GETTEXT, PATH_SIZE, (LPARAM)name);
    if (!IsValidGroupName(name)) {
        ShowProblem(page, MB_OK, TEXT_BLANK_GROUP, TEXT_BAD_GROUP_NAME_END);
        return;
    }
    // The folder is made under the name the system stores, so that is the
    // name used and shown. An empty name stays allowed (the shortcuts go
    // straight into the Programs folder); one that trims to nothing ("."
    // and ".." among them) would put the group beside or above it.
    if (IsBlankName(name)) {
        ShowProblem(page, MB_OK, TEXT_BLANK_GROUP, TEXT_BLANK_NAME_END);
        return;
    }
    if (IsDeviceName(name, strlen(name))) {
        ShowRefusal(page, TEXT_RESERVED_NAME, name);
        return;
    }
    TrimNameEnd(name);
    SetDlgItemTextA(page, IDC_GROUP_NAME, name);
    // Every shortcut of the group must fit below the group's folder, or it
    // could not be made (nor logged) under its own name: the folder, the
    // name, the longest shortcut's name and a backslash before each, and
    // ".lnk", within a path.
    char path[PATH_SIZE];
    const char* programs = g_setup.programsFolder;
    HOLD_ADDRESS(programs);
    if (programs[0] &&
        !JoinText(path, PATH_SIZE - (int)strlen("\\.lnk"), programs, "\\", name,
                  LongestGroupLink(true))) {
        ShowProblem(page, MB_OK, TEXT_PATH_TOO_LONG, programs, "\\", name);
        return;
    }
    CopyString(g_setup.groupName, name);
    EndDialog(page, PAGE_NEXT);
}

INT_PTR CALLBACK GroupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char* programs = g_setup.programsFolder;
        HOLD_ADDRESS(programs);
        SendDlgItemMessageA(page, IDC_GROUP_NAME, EM_LIMITTEXT, PATH_SIZE - 1, 0);
        SetDlgItemTextA(page, IDC_GROUP_NAME, g_setup.groupName);
        // Left empty when the shell cannot name it.
        if (SpecialFolderPath(CSIDL_PROGRAMS, programs))
            FillGroupList(GetDlgItem(page, IDC_GROUP_LIST), programs);
        return TRUE;
    }
    case WM_COMMAND:
        if ((DWORD)wParam == MAKELONG(IDC_GROUP_LIST, LBN_DBLCLK))
            CopySelectedGroup(page);
        if (LOWORD(wParam) == IDC_NEXT) {
            ConfirmGroup(page);
            return TRUE;
        }
        break;
    }
    return HandleCommonPageMessage(page, message, wParam);
}
