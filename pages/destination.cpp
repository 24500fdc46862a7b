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

// "C:\..." and "\\server\share\..." are full paths; anything else typed
// would be taken relative to wherever setup happened to be started.
static bool IsFullPath(const char* path)
{
    bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                 path[1] == ':' && path[2] == '\\';
    bool unc = path[0] == '\\' && path[1] == '\\';
    return drive || unc;
}

static int LongestPayloadName()
{
    uint32_t size, total, count;
    const unsigned char* archive = LockDataResource(IDR_PAYLOAD, &size);
    int longest = 0;
    if (!ReadArchiveHeader(archive, size, &total, &count))
        return 0;
    uint32_t offset = ARCHIVE_HEADER_SIZE;
    ArchiveEntry entry;
    for (uint32_t i = 0; i < count && NextArchiveEntry(archive, size, &offset, &entry); ++i)
        if (lstrlenA(entry.name) > longest)
            longest = lstrlenA(entry.name);
    return longest;
}

// Every path the installation joins below the folder must fit, or some file
// could not be written (nor logged) under its own name.
static bool JoinedPathsFit(const char* folder)
{
    int longest = LongestPayloadName();
    if (lstrlenA("setup.log") > longest)
        longest = lstrlenA("setup.log");
    return lstrlenA(folder) + 1 + longest <= PATH_SIZE - 1;
}

static void ReportFolder(HWND page, const char* prefix, const char* folder)
{
    char text[PATH_SIZE + 64];
    lstrcpyA(text, prefix);
    lstrcatA(text, folder);
    ShowError(page, text, MB_OK);
}

static bool IsFolder(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static void ConfirmFolder(HWND page)
{
    GetDlgItemTextA(page, IDC_DEST_DIR, g_setup.installFolder, PATH_SIZE);
    if (g_setup.installFolder[0] && !IsFullPath(g_setup.installFolder)) {
        char full[PATH_SIZE];
        DWORD length = GetFullPathNameA(g_setup.installFolder, PATH_SIZE, full, 0);
        if (length > 0 && length < (DWORD)PATH_SIZE)
            CopyString(g_setup.installFolder, full);
    }
    if (!JoinedPathsFit(g_setup.installFolder)) {
        ReportFolder(page, TEXT_PATH_TOO_LONG, g_setup.installFolder);
        return;
    }
    // A file of that name passes no check: the installation needs a folder.
    if (PathExists(g_setup.installFolder) ? IsFolder(g_setup.installFolder)
                                          : IsFullPath(g_setup.installFolder) &&
                                                CreateDirectoryA(g_setup.installFolder, 0)) {
        EndDialog(page, PAGE_NEXT);
        return;
    }
    ReportFolder(page, TEXT_CANNOT_CREATE_DIR, g_setup.installFolder);
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
