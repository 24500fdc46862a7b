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
    // What the shell leaves in the buffer when it fails is not a path.
    if (!SHGetSpecialFolderPathA(0, buffer, folderId, FALSE))
        buffer[0] = 0;
    return buffer[0] != 0;
}

// Asks about what cannot be made, over whichever window is active; true
// for Retry. Out of line, so that the window is found in one place.
static __attribute__((noinline)) bool AskAgain(const char* problem, const char* item)
{
    return AskRetry(GetActiveWindow(), problem, item);
}

// One shortcut to the installed file target, asked about again while it
// cannot be saved; false once the user has chosen Cancel, and then nothing
// of it is logged. A group's shortcut is made only to a file that is there
// (existing true), and false at once otherwise.
static bool SaveShortcut(const char* linkPath, const char* target, bool existing)
{
    char targetPath[PATH_SIZE];
    JoinPath(targetPath, g_setup.installFolder, target);
    if (existing && !IsFile(targetPath))
        return false;
    for (;;) {
        // A target that did not fit its path is empty, and a link path too
        // long for the system does not convert below: neither is cut into
        // another.
        void* object;
        if (targetPath[0] && SUCCEEDED(OleInitialize(0)) &&
            SUCCEEDED(CoCreateInstance(ShellLinkClass, 0, CLSCTX_INPROC_SERVER,
                                       ShellLinkInterface, &object))) {
            // A variable whose address is never taken: it stays in a register.
            IShellLinkA* const link = (IShellLinkA*)object;
            IPersistFile* file;
            bool saved = false;
            if (SUCCEEDED(link->QueryInterface(PersistFileInterface, (void**)&file))) {
                WCHAR wide[PATH_SIZE];
                saved = SUCCEEDED(link->SetPath(targetPath)) &&
                        SUCCEEDED(link->SetWorkingDirectory(g_setup.installFolder)) &&
                        MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wide, PATH_SIZE) > 0 &&
                        SUCCEEDED(file->Save(wide, TRUE));
                file->Release();
            }
            link->Release();
            if (saved)
                return true;
        }
        if (!AskAgain(TEXT_CANNOT_MAKE_LINK, linkPath))
            return false;
    }
}

const char* GroupLink(int number, const char** target)
{
    // Targets and names alternate: the name is the string 2 * number - 1
    // counted from 0, and the target the one before it.
    const char* text = g_setup.groupLinks;
    for (int i = 2 * number; --i;) {
        *target = text;
        text = NextText(text);
    }
    return text;
}

const char* LongestGroupLink(bool names)
{
    const char* longest = "";
    const char* text = g_setup.groupLinks;
    // Targets and names alternate, and the count runs down from an even
    // number: names come at the odd counts.
    for (int i = 2 * g_setup.groupLinkCount; i > 0; --i) {
        if ((i & 1) == names)
            longest = LongerOf(longest, text);
        text = NextText(text);
    }
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

// The path of the shortcut of that name in folder, which may be link
// itself; false, with link empty, when it does not fit.
static __attribute__((noinline)) bool LinkPath(char* link, const char* folder, const char* name)
{
    return JoinText(link, LONG_PATH_SIZE, folder, "\\", name, ".lnk");
}

// The path of the group's shortcut of that number in folder, and its
// target in *target.
static __attribute__((noinline)) void GroupLinkPath(char* link, const char* folder, int number,
                                                    const char** target)
{
    LinkPath(link, folder, GroupLink(number, target));
}

// The [Links] entries: a number, a shortcut's path (null takes it out), and
// a shortcut given up, taken out again and counted missing. Out of line, so
// that the section's name is passed in one place.
static __attribute__((noinline)) bool LogLinksNumber(const char* key, int number)
{
    return LogWriteNumber(LOG_LINKS, key, number);
}

static __attribute__((noinline)) bool LogLink(int number, const char* path)
{
    return LogWriteNumbered(LOG_LINKS, LOG_LINK, number, path);
}

static void GiveUpLink(int number)
{
    LogLink(number, 0);
    ++g_setup.missingCount;
}

// Records the group as it is to be made, before any of it is: its
// shortcuts (none without a folder), its folder, and a size that
// CreateGroupShortcuts puts in once they are made. With no folder, it takes
// back what an earlier call recorded, and counts the shortcuts missing.
// True when everything is in the log.
static bool LogGroup(const char* folder)
{
    const int count = folder[0] ? g_setup.groupLinkCount : 0;
    bool logged = LogLinksNumber(KEY_COUNT, count);
    for (int i = 1; i <= g_setup.groupLinkCount; ++i) {
        if (!folder[0]) {
            GiveUpLink(i);
            continue;
        }
        char link[LONG_PATH_SIZE];
        const char* target;
        GroupLinkPath(link, folder, i, &target);
        logged = LogLink(i, link) && logged;
    }
    return LogWrite(LOG_LINKS, KEY_DIR, folder) && LogLinksNumber(LOG_SIZE, 0) && logged;
}

void CreateGroupFolder()
{
    // Room for the Programs folder and the group's name however long: a
    // folder too long to be made is still named when it is reported.
    char folder[LONG_PATH_SIZE];
    // Without the Programs folder there is no group, and no group shortcut
    // is made from an undefined path.
    bool logged = SpecialFolderPath(CSIDL_PROGRAMS, folder) &&
                  JoinText(folder, LONG_PATH_SIZE, folder, "\\", g_setup.groupName) &&
                  LogGroup(folder);
    // An existing folder of that name is the group; anything else in its
    // place is reported. The group's folder is named only once it is there
    // (one too long to name is not made either), and so stays empty without
    // it.
    while (logged) {
        if ((CreateDirectoryA(folder, 0) || IsFolder(folder)) &&
            CopyString(g_setup.groupFolder, folder))
            return;
        if (!AskAgain(TEXT_CANNOT_CREATE_DIR, folder))
            break;
    }
    // No group, and so none of its shortcuts: they are counted missing
    // with it.
    LogGroup("");
    ++g_setup.missingCount;
}

void CreateGroupShortcuts()
{
    // None at all when there is no group folder to put them in.
    const int count = g_setup.groupFolder[0] ? g_setup.groupLinkCount : 0;
    uint32_t total = 0;
    for (int i = 1; i <= count; ++i) {
        const char* target;
        char linkPath[LONG_PATH_SIZE];
        GroupLinkPath(linkPath, g_setup.groupFolder, i, &target);
        // Logged with the group. One skipped, or leading to a file that is
        // not there, leaves a gap in the numbering, as a file the user kept
        // does.
        if (SaveShortcut(linkPath, target, true)) {
            total += FileSizeOf(linkPath);
            continue;
        }
        GiveUpLink(i);
    }
    g_setup.linkCount = count;
    LogLinksNumber(LOG_SIZE, (int)total);
}

void AddExtraShortcut(int folderId, const char* name, const char* target)
{
    // The special folder's path, then the shortcut's joined to it in place.
    // A special folder the shell cannot name leaves its path empty, and the
    // shortcut is reported by its own name, without the backslash that
    // would join it to the folder: no shortcut is made from an undefined
    // path.
    char linkPath[LONG_PATH_SIZE];
    bool fits;
    for (;;) {
        const bool named = SpecialFolderPath(folderId, linkPath);
        fits = LinkPath(linkPath, linkPath, name);
        if (named)
            break;
        if (!AskAgain(TEXT_CANNOT_MAKE_LINK, linkPath + 1)) {
            ++g_setup.missingCount;
            return;
        }
    }
    // Logged first, n with it, and taken out again when given up.
    int* count = &g_setup.linkCount;
    HOLD_ADDRESS(count);
    const char* countKey = KEY_COUNT;
    HOLD_ADDRESS(countKey);
    int number = *count + 1;
    if (fits && LogLink(number, linkPath) && LogLinksNumber(countKey, number) &&
        SaveShortcut(linkPath, target, false)) {
        *count = number;
    } else {
        GiveUpLink(number);
        LogLinksNumber(countKey, *count);
    }
}
