// Shortcuts: the program group in the Start menu with the package's links,
// and the optional Startup and Desktop links. Each .lnk is made through the
// shell's link object and recorded under [Links] for the uninstaller.
#include <shlobj.h>

#include "core/setup.h"
#include "core/texts.h"
#include "log/setup_log.h"

// Written out here: setup.exe links no import library of GUIDs.
static const GUID ShellLinkClass =
    {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID ShellLinkInterface =
    {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID PersistFileInterface =
    {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool SpecialFolderPath(int folderId, char* buffer)
{
    buffer[0] = 0;
    if (!SHGetSpecialFolderPathA(0, buffer, folderId, FALSE) || !buffer[0]) {
        buffer[0] = 0;
        return false;
    }
    return true;
}

bool CreateShortcut(const char* linkPath, const char* targetPath)
{
    // A target that did not fit its path is empty, and a link path too long
    // for the system does not convert below: neither is cut into another.
    if (!targetPath[0] || FAILED(OleInitialize(0)))
        return false;
    IShellLinkA* link = 0;
    IPersistFile* file = 0;
    HRESULT result = CoCreateInstance(ShellLinkClass, 0, CLSCTX_INPROC_SERVER,
                                      ShellLinkInterface, (void**)&link);
    if (SUCCEEDED(result))
        result = link->QueryInterface(PersistFileInterface, (void**)&file);
    if (SUCCEEDED(result))
        result = link->SetPath(targetPath);
    if (SUCCEEDED(result))
        result = link->SetWorkingDirectory(g_setup.installFolder);
    if (SUCCEEDED(result)) {
        WCHAR wide[PATH_SIZE];
        result = MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wide, PATH_SIZE) > 0
                     ? file->Save(wide, TRUE)
                     : E_FAIL;
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    return SUCCEEDED(result);
}

// One shortcut, asked about again while it cannot be saved; false once the
// user has chosen Cancel, and then nothing of it is logged.
static bool SaveShortcut(const char* linkPath, const char* targetPath)
{
    while (!CreateShortcut(linkPath, targetPath))
        if (!AskRetry(GetActiveWindow(), TEXT_CANNOT_MAKE_LINK, linkPath))
            return false;
    return true;
}

const char* LongestGroupLink(bool names)
{
    uint32_t size, count, offset = 4;
    const unsigned char* list = LockDataResource(IDR_GROUP_LINKS, &size);
    const char* link[2];
    const char* longest = "";
    if (ReadLinkCount(list, size, &count))
        for (uint32_t i = 0; i < count && NextGroupLink(list, size, &offset, &link[0], &link[1]);
             ++i)
            longest = LongerOf(longest, link[names]);
    return longest;
}

static uint32_t FileSizeOf(const char* path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return found.nFileSizeLow;
}

// Records the group as it is to be made, before any of it is: its
// shortcuts (none without a folder), its folder, and a size that
// CreateGroupShortcuts puts in once they are made. With no folder, it takes
// back what an earlier call recorded. Returns how many shortcuts the group
// has, and in *logged whether everything is in the log.
static uint32_t LogGroup(const char* folder, bool* logged)
{
    uint32_t size, count = 0, offset = 4, i = 0;
    const unsigned char* list = LockDataResource(IDR_GROUP_LINKS, &size);
    ReadLinkCount(list, size, &count);
    *logged = LogWriteNumber(LOG_LINKS, LOG_COUNT, folder[0] ? (int)count : 0);
    const char* target;
    const char* name;
    while (i < count && NextGroupLink(list, size, &offset, &target, &name)) {
        char link[LONG_PATH_SIZE];
        JoinText(link, LONG_PATH_SIZE, folder, "\\", name, ".lnk");
        ++i;
        if (folder[0])
            *logged = LogWriteNumbered(LOG_LINKS, LOG_LINK, (int)i, link) && *logged;
        else
            LogForgetNumbered(LOG_LINKS, LOG_LINK, (int)i);
    }
    // A damaged list holds fewer pairs than it says; n, rewritten where it
    // stands, counts those it holds.
    if (i < count && folder[0])
        *logged = LogWriteNumber(LOG_LINKS, LOG_COUNT, (int)i) && *logged;
    *logged = LogWrite(LOG_LINKS, LOG_DIR, folder) && LogWriteNumber(LOG_LINKS, LOG_SIZE, 0) && *logged;
    return i;
}

void CreateGroupFolder()
{
    char programs[PATH_SIZE];
    char folder[LONG_PATH_SIZE] = "";
    g_setup.groupFolder[0] = 0;
    // Without the Programs folder there is no group, and no group shortcut
    // is made from an undefined path.
    if (SpecialFolderPath(CSIDL_PROGRAMS, programs))
        JoinText(folder, LONG_PATH_SIZE, programs, "\\", g_setup.groupName);
    bool logged = false;
    if (folder[0])
        LogGroup(folder, &logged);
    // An existing folder of that name is the group; anything else in its
    // place is reported.
    while (logged) {
        if ((int)strlen(folder) < PATH_SIZE && (CreateDirectoryA(folder, 0) || IsFolder(folder))) {
            CopyString(g_setup.groupFolder, folder);
            return;
        }
        if (!AskRetry(GetActiveWindow(), TEXT_CANNOT_CREATE_DIR, folder))
            break;
    }
    // No group, and so none of its shortcuts.
    g_setup.missingCount += (int)LogGroup("", &logged) + 1;
}

void CreateGroupShortcuts()
{
    uint32_t size = 0, count = 0, offset = 4;
    const unsigned char* list = LockDataResource(IDR_GROUP_LINKS, &size);
    // None at all when there is no group folder to put them in.
    if (!g_setup.groupFolder[0] || !ReadLinkCount(list, size, &count))
        count = 0;
    const char* target;
    const char* name;
    uint32_t i = 0, total = 0;
    while (i < count && NextGroupLink(list, size, &offset, &target, &name)) {
        ++i;
        char targetPath[PATH_SIZE];
        char linkPath[LONG_PATH_SIZE];
        JoinPath(targetPath, g_setup.installFolder, target);
        JoinText(linkPath, LONG_PATH_SIZE, g_setup.groupFolder, "\\", name, ".lnk");
        // Logged with the group. One skipped, or leading to a file that is
        // not there, leaves a gap in the numbering, as a file the user kept
        // does.
        if (IsFile(targetPath) && SaveShortcut(linkPath, targetPath)) {
            total += FileSizeOf(linkPath);
            continue;
        }
        LogForgetNumbered(LOG_LINKS, LOG_LINK, (int)i);
        ++g_setup.missingCount;
    }
    g_setup.linkCount = (int)i;
    LogWriteNumber(LOG_LINKS, LOG_SIZE, (int)total);
}

void AddExtraShortcut(int folderId, const char* name, const char* target)
{
    char folder[PATH_SIZE];
    char linkPath[LONG_PATH_SIZE];
    char targetPath[PATH_SIZE];
    JoinPath(targetPath, g_setup.installFolder, target);
    // A special folder the shell cannot name is reported by the shortcut's
    // own name: no shortcut is made from an undefined path.
    bool named;
    while (!(named = SpecialFolderPath(folderId, folder))) {
        JoinText(linkPath, LONG_PATH_SIZE, name, ".lnk");
        if (!AskRetry(GetActiveWindow(), TEXT_CANNOT_MAKE_LINK, linkPath))
            break;
    }
    // Logged first, n with it, and taken out again when given up.
    int number = g_setup.linkCount + 1;
    if (named && JoinText(linkPath, LONG_PATH_SIZE, folder, "\\", name, ".lnk") &&
        LogWriteNumbered(LOG_LINKS, LOG_LINK, number, linkPath) &&
        LogWriteNumber(LOG_LINKS, LOG_COUNT, number) && SaveShortcut(linkPath, targetPath)) {
        g_setup.linkCount = number;
        return;
    }
    if (named) {
        LogForgetNumbered(LOG_LINKS, LOG_LINK, number);
        LogWriteNumber(LOG_LINKS, LOG_COUNT, g_setup.linkCount);
    }
    ++g_setup.missingCount;
}
