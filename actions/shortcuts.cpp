// Shortcuts: the program group in the Start menu with the package's links,
// and the optional Startup and Desktop links. Each .lnk is made through the
// shell's link object and recorded under [Links] for the uninstaller.
#include <shlobj.h>

#include "core/setup.h"
#include "core/texts.h"

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

void CreateGroupFolder()
{
    char programs[PATH_SIZE];
    char folder[LONG_PATH_SIZE];
    g_setup.groupFolder[0] = 0;
    // Without the Programs folder there is no group; groupFolder stays empty
    // and no group shortcut is made from an undefined path.
    if (!SpecialFolderPath(CSIDL_PROGRAMS, programs))
        return;
    JoinText(folder, LONG_PATH_SIZE, programs, "\\", g_setup.groupName);
    // An existing folder of that name is the group; anything else in its
    // place is reported. After Cancel there is no group and so no group
    // shortcut.
    for (;;) {
        if ((int)strlen(folder) < PATH_SIZE && (CreateDirectoryA(folder, 0) || IsFolder(folder))) {
            CopyString(g_setup.groupFolder, folder);
            return;
        }
        if (!AskRetry(GetActiveWindow(), TEXT_CANNOT_CREATE_DIR, folder))
            return;
    }
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

void CreateGroupShortcuts()
{
    uint32_t size = 0, count = 0, offset = 4;
    const unsigned char* list = LockDataResource(IDR_GROUP_LINKS, &size);
    // None at all when there is no group folder to put them in.
    if (!g_setup.groupFolder[0] || !ReadLinkCount(list, size, &count))
        count = 0;
    LogWriteNumber("Links", "n", (int)count);
    const char* target;
    const char* name;
    uint32_t i = 0, total = 0;
    while (i < count && NextGroupLink(list, size, &offset, &target, &name)) {
        ++i;
        char targetPath[PATH_SIZE];
        char linkPath[LONG_PATH_SIZE];
        JoinPath(targetPath, g_setup.installFolder, target);
        JoinText(linkPath, LONG_PATH_SIZE, g_setup.groupFolder, "\\", name, ".lnk");
        // Logged once it exists; a shortcut skipped leaves a gap in the
        // numbering, as a file the user kept does.
        if (!SaveShortcut(linkPath, targetPath))
            continue;
        LogWriteNumbered("Links", "Link", (int)i, linkPath);
        total += FileSizeOf(linkPath);
    }
    // A damaged list holds fewer pairs than it says; n, rewritten where it
    // stands, counts those it holds.
    if (i < count)
        LogWriteNumber("Links", "n", (int)i);
    g_setup.linkCount = (int)i;
    LogWrite("Links", "Dir", g_setup.groupFolder);
    LogWriteNumber("Links", "size", (int)total);
}

void AddExtraShortcut(int folderId, const char* name, const char* target)
{
    char folder[PATH_SIZE];
    char linkPath[LONG_PATH_SIZE];
    char targetPath[PATH_SIZE];
    JoinPath(targetPath, g_setup.installFolder, target);
    // A special folder the shell cannot name is reported by the shortcut's
    // own name: no shortcut is made from an undefined path.
    while (!SpecialFolderPath(folderId, folder)) {
        JoinText(linkPath, LONG_PATH_SIZE, name, ".lnk");
        if (!AskRetry(GetActiveWindow(), TEXT_CANNOT_MAKE_LINK, linkPath))
            return;
    }
    JoinText(linkPath, LONG_PATH_SIZE, folder, "\\", name, ".lnk");
    if (!SaveShortcut(linkPath, targetPath))
        return;
    ++g_setup.linkCount;
    LogWriteNumbered("Links", "Link", g_setup.linkCount, linkPath);
    LogWriteNumber("Links", "n", g_setup.linkCount);
}
