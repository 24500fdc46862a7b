// The destination page: the installation folder, offered from ProgramFiles,
// typed or picked, and made sure to exist before the wizard goes on.
#include "core/setup.h"
#include "core/texts.h"

static void OfferDefaultFolder(HWND page)
{
    // A value of PATH_SIZE bytes or more is not read at all: the call then
    // answers the size it would need, and the buffer holds nothing.
    char programFiles[PATH_SIZE];
    char folder[PATH_SIZE];
    DWORD length = GetEnvironmentVariableA("ProgramFiles", programFiles, PATH_SIZE);
    if (length > 0 && length < (DWORD)PATH_SIZE &&
        JoinPath(folder, programFiles, g_setup.productFolderName))
        CopyString(g_setup.defaultFolder, folder);
    CopyString(g_setup.installFolder, g_setup.defaultFolder);
    SendDlgItemMessageA(page, IDC_DEST_DIR, EM_LIMITTEXT, PATH_SIZE - 1, 0);
    SetDlgItemTextA(page, IDC_DEST_DIR, g_setup.defaultFolder);

    char space[64];
    wsprintfA(space, TEXT_REQUIRED_SPACE, g_setup.requiredKilobytes);
    SetDlgItemTextA(page, IDC_SPACE_TEXT, space);
}

// The longest name the installation joins below its folder: the payload's
// files, the log, the targets of every shortcut, the uninstaller and the
// product program that the file type names.
static const char* LongestInstalledName()
{
    static const char* const names[] = {LOG_FILE_NAME, EXTRA_LOGGED_FILE, PRODUCT_PROGRAM + 1,
                                        g_setup.startupTarget, g_setup.desktopTarget,
                                        g_setup.runTarget};
    const char* longest = LongerOf(g_setup.uninstallerName, LongestGroupLink(false));
    for (const char* name : names)
        longest = LongerOf(longest, name);
    uint32_t size, total, count, offset = ARCHIVE_HEADER_SIZE;
    const unsigned char* archive = LockDataResource(IDR_PAYLOAD, &size);
    ArchiveEntry entry;
    if (ReadArchiveHeader(archive, size, &total, &count))
        for (uint32_t i = 0; i < count && NextArchiveEntry(archive, size, &offset, &entry); ++i)
            longest = LongerOf(longest, entry.name);
    return longest;
}

// The folder as the file system will name it: a full path (relative and
// drive-relative input is taken from the current folder), without the
// trailing backslash, spaces and dots the system drops from a name's end.
// Each pass may uncover more (C:\Apps..\x gives C:\Apps.\x, then
// C:\Apps\x), so it runs until the name stands still: once the path is
// full, a pass can only take characters away, so one that keeps the length
// changed nothing. False when the full path does not fit a path buffer; an
// empty folder stays empty.
static bool NormaliseFolder(char* folder)
{
    for (;;) {
        char full[PATH_SIZE];
        DWORD length = GetFullPathNameA(folder, PATH_SIZE, full, 0);
        if (length == 0)
            return true;
        if (length >= (DWORD)PATH_SIZE)
            return false;
        for (;;) {
            TrimNameEnd(full);
            length = (DWORD)strlen(full);
            // A drive's root keeps its backslash: "C:" alone is relative.
            if (length <= 3 || full[length - 1] != '\\')
                break;
            full[length - 1] = 0;
        }
        bool still = length == strlen(folder);
        CopyString(folder, full);
        if (still)
            return true;
    }
}

static void ReportFolder(HWND page, const char* problem, const char* folder,
                         const char* detail = "", const char* longPath = "")
{
    char text[MESSAGE_SIZE];
    JoinText(text, MESSAGE_SIZE, problem, folder, detail, longPath);
    ShowError(page, text, MB_OK);
}

static void ConfirmFolder(HWND page)
{
    char* folder = g_setup.installFolder;
    SendDlgItemMessageA(page, IDC_DEST_DIR, WM_GETTEXT, PATH_SIZE, (LPARAM)folder);
    if (IsBlankName(folder)) {
        ShowError(page, TEXT_BLANK_FOLDER, MB_OK);
        return;
    }
    if (!NormaliseFolder(folder)) {
        ReportFolder(page, TEXT_PATH_TOO_LONG, folder);
        return;
    }
    // What the box shows is what the installation will use.
    SetDlgItemTextA(page, IDC_DEST_DIR, folder);

    // Every path the installation joins below the folder must fit, or some
    // file, shortcut or registry entry could not be made under its name.
    char longPath[LONG_PATH_SIZE];
    JoinText(longPath, LONG_PATH_SIZE, folder, "\\", LongestInstalledName());
    if ((int)strlen(longPath) >= PATH_SIZE) {
        ReportFolder(page, TEXT_PATH_TOO_LONG, folder, TEXT_LONGEST_PATH, longPath);
        return;
    }
    // A file of that name passes no check: the installation needs a folder.
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES ? (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                              : folder[0] && CreateDirectoryA(folder, 0)) {
        EndDialog(page, PAGE_NEXT);
        return;
    }
    ReportFolder(page, TEXT_CANNOT_CREATE_DIR, folder);
}

INT_PTR CALLBACK DestinationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        OfferDefaultFolder(page);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_NEXT:
            ConfirmFolder(page);
            return TRUE;
        case IDC_BROWSE:
            BrowseForFolder(TEXT_BROWSE_TITLE, g_setup.installFolder, page);
            SetDlgItemTextA(page, IDC_DEST_DIR, g_setup.installFolder);
            return TRUE;
        }
        break;
    }
    return HandleCommonPageMessage(page, message, wParam);
}
