// The destination page: the installation folder, offered from ProgramFiles,
// typed or picked, and made sure to exist before the wizard goes on.
#include "core/setup.h"
#include "core/texts.h"
#include "log/setup_log.h"

#include <stddef.h>

// What the box shows is what the installation will use.
__attribute__((noinline)) static void ShowFolder(HWND page)
{
    SetDlgItemTextA(page, IDC_DEST_DIR, g_setup.installFolder);
}

static void OfferDefaultFolder(HWND page)
{
    // A value of PATH_SIZE bytes or more is not read at all: the call then
    // answers the size it would need, and the buffer holds nothing.
    char folder[PATH_SIZE];
    SetupState* setup = &g_setup;
    HOLD_ADDRESS(setup);
    DWORD length = GetEnvironmentVariableA("ProgramFiles", folder, PATH_SIZE);
    if (length > 0 && length < (DWORD)PATH_SIZE &&
        JoinPath(folder, folder, setup->productFolderName))
        CopyString(setup->defaultFolder, folder);
    CopyString(setup->installFolder, setup->defaultFolder);
    SendDlgItemMessageA(page, IDC_DEST_DIR, EM_LIMITTEXT, PATH_SIZE - 1, 0);
    ShowFolder(page);
    SetDlgItemTextA(page, IDC_SPACE_TEXT, TEXT_REQUIRED_SPACE);
}

LATE_CODE static uint32_t UnitsOf(uint32_t bytes, uint32_t unit)
{
    return bytes / unit + (bytes % unit != 0);
}

// What the installation needs below its folder. Returns the longest name
// it joins to the folder (a payload file, the log, the targets of every
// shortcut, the uninstaller, the product program that the file type
// names); *units gets its room in allocation units of that size: every
// payload file in whole units, and the log twice (while it is replaced,
// setup.tmp stands beside it), at most a path and a key a line.
// Of equals the first is kept, as LongerOf keeps it: the name is shown.
constexpr const char* LongerFixed(const char* a, const char* b)
{
    return __builtin_strlen(b) > __builtin_strlen(a) ? b : a;
}

static_assert(offsetof(SetupState, desktopTarget) - offsetof(SetupState, startupTarget) ==
                      2 * PATH_SIZE &&
                  offsetof(SetupState, runTarget) - offsetof(SetupState, desktopTarget) ==
                      2 * PATH_SIZE,
              "the extra programs' targets are found by their distance");
LATE_CODE static const char* MeasureInstallation(uint32_t unit, uint32_t* units)
{
    // The names fixed when the setup is built are compared then.
    constexpr const char* fixed =
        LongerFixed(LongerFixed(LOG_FILE_NAME, EXTRA_LOGGED_FILE), PRODUCT_PROGRAM + 1);
    const char* longest =
        LongerOf(LongerOf(g_setup.uninstallerName, LongestGroupLink(false)), fixed);
    for (const char* target = g_setup.startupTarget; target <= g_setup.runTarget;
         target += 2 * PATH_SIZE)
        longest = LongerOf(longest, target);
    uint32_t size, total, count, offset = ARCHIVE_HEADER_SIZE;
    uint32_t logBytes = 16 * (PATH_SIZE + 16);
    *units = 0;
    const unsigned char* archive = LockDataResource(IDR_PAYLOAD, &size);
    ArchiveEntry entry;
    if (ReadArchiveHeader(archive, size, &total, &count))
        for (uint32_t i = 0; i < count && NextArchiveEntry(archive, size, &offset, &entry); ++i) {
            longest = LongerOf(longest, entry.name);
            *units += UnitsOf(entry.size, unit);
            logBytes += PATH_SIZE + 16;
        }
    *units += 2 * UnitsOf(logBytes, unit);
    return longest;
}

// The folder spelled with the long name of each part of it that exists, as
// the file system lists it (an 8.3 name, or one typed in other letters'
// case, spells the same folder another way): the nearest part that exists
// is looked up, and what follows it, not made yet, kept as it is. -1 when
// that spelling does not fit a path. Then the allocation units free for
// this user there, and their size: 1 when they could be read, 0 when not
// (a share that does not answer), and room is then no reason to refuse
// the folder.
LATE_CODE static int SpellFolder(char* folder, DWORD* freeUnits, uint32_t* unit)
{
    char existing[PATH_SIZE];
    CopyString(existing, folder);
    int length = (int)strlen(existing);
    while (!IsFolder(existing)) {
        do {
            if (length == 0)
                return 0;
        } while (existing[--length] != '\\');
        existing[length] = 0;
    }
    // The whole folder is spelled in place behind the part that exists,
    // and that part then cut off again.
    DWORD spelledLength = GetLongPathNameA(existing, existing, PATH_SIZE);
    if (spelledLength) {
        if (spelledLength >= (DWORD)PATH_SIZE || !JoinStrings(existing, existing, folder + length))
            return -1;
        CopyString(folder, existing);
        length = (int)spelledLength;
        existing[length] = 0;
    }
    if (existing[length - 1] != '\\')
        JoinPath(existing, existing, "");
    // A unit of less than a block (none at all, from a driver that does not
    // say) is not taken: the installation is measured in units of it.
    DWORD sectors, sectorBytes, clusters;
    if (!GetDiskFreeSpaceA(existing, &sectors, &sectorBytes, freeUnits, &clusters) ||
        sectors * sectorBytes < 512)
        return 0;
    *unit = sectors * sectorBytes;
    return 1;
}

// The folder as the file system will name it: a full path (relative and
// drive-relative input is taken from the current folder, "." and ".."
// parts resolved, "/" turned into "\\"), an ordinary drive path without the
// \\?\ in front, and without the trailing backslash, spaces and dots the
// system drops from a name's end. Each pass may uncover more (C:\Apps..\x
// gives C:\Apps.\x, then C:\Apps\x), so it runs until the name stands
// still: once the path is full, a pass can only take characters away, so
// one that keeps the length changed nothing. False when the full path does
// not fit a path buffer; an empty folder stays empty.
LATE_CODE static bool NormaliseFolder(char* folder)
{
    for (;;) {
        char full[PATH_SIZE];
        DWORD length = GetFullPathNameA(folder, PATH_SIZE, full, 0);
        if (length == 0)
            return true;
        if (length >= (DWORD)PATH_SIZE)
            return false;
        // \\?\C:\... names an ordinary drive path the long way round.
        char* plain = full;
        uint32_t prefix;
        memcpy(&prefix, full, 4);
        if (prefix == ('\\' | '\\' << 8 | '?' << 16 | (uint32_t)'\\' << 24) && full[5] == ':')
            plain += 4;
        for (;;) {
            TrimNameEnd(plain);
            length = (DWORD)strlen(plain);
            // A drive's root keeps its backslash: "C:" alone is relative.
            if (length <= 3 || plain[length - 1] != '\\')
                break;
            plain[length - 1] = 0;
        }
        bool still = length == strlen(folder);
        CopyString(folder, plain);
        if (still)
            return true;
    }
}

// The first component of the folder that names a device (the whole folder
// for a device path such as \\.\NUL), left in name; false, with name
// empty, when none does.
LATE_CODE static bool FindDeviceName(const char* folder, char* name)
{
    // A path of the folder's buffer fits name whole.
    if (folder[0] == '\\' && folder[1] == '\\' && folder[2] == '.')
        return CopyString(name, folder);
    for (const char* start = folder;;) {
        const char* end = start;
        while (*end && *end != '\\' && *end != '/')
            ++end;
        size_t length = (size_t)(end - start);
        if (IsDeviceName(start, length)) {
            *(char*)__builtin_mempcpy(name, start, length) = 0;
            return true;
        }
        if (!*end) {
            name[0] = 0;
            return false;
        }
        start = end + 1;
    }
}

// Kept out of the page's procedure, which the setup carries behind its
// resources while this stays in front.
__attribute__((noinline)) static void ConfirmFolder(HWND page)
{
    char* folder = g_setup.installFolder;
    HOLD_ADDRESS(folder);
    char device[PATH_SIZE];
    SendDlgItemMessageA(page, IDC_DEST_DIR, WM_GETTEXT, PATH_SIZE, (LPARAM)folder);
    if (IsBlankName(folder)) {
        ShowProblem(page, MB_OK, TEXT_BLANK_FOLDER, TEXT_BLANK_NAME_END);
        return;
    }
    // Device names are looked for before and after the name is made full:
    // the system turns a path ending in one into the device's own path.
    // The folder's one spelling, the long one, is what the checks below see.
    DWORD freeUnits = 0;
    uint32_t needed, unit = 512;
    int roomKnown;
    if (FindDeviceName(folder, device) || !NormaliseFolder(folder) ||
        FindDeviceName(folder, device) ||
        (roomKnown = SpellFolder(folder, &freeUnits, &unit)) < 0) {
        bool reserved = device[0] != 0;
        ShowRefusal(page, reserved ? TEXT_RESERVED_NAME : TEXT_PATH_TOO_LONG,
                    reserved ? device : folder);
        return;
    }
    ShowFolder(page);
    const char* longest = MeasureInstallation(unit, &needed);
    // Every path the installation joins below the folder must fit, or some
    // file, shortcut or registry entry could not be made under its name.
    char longPath[LONG_PATH_SIZE];
    JoinText(longPath, LONG_PATH_SIZE, folder, "\\", longest);
    if ((int)strlen(longPath) >= PATH_SIZE) {
        ShowProblem(page, MB_OK, TEXT_PATH_TOO_LONG, folder, TEXT_LONGEST_PATH, longPath);
        return;
    }
    // In kilobytes, through 512-byte blocks: a unit is a whole number of
    // them, and both counts then stay within 32 bits.
    if (roomKnown && freeUnits < needed) {
        // Two numbers of ten digits at the most: the message fits the
        // buffer the longest path no longer needs.
        unit /= 512;
        wsprintfA(longPath, TEXT_NO_ROOM, (needed * unit + 1) / 2, freeUnits * unit / 2);
        ShowError(page, longPath, MB_OK);
        return;
    }
    // A file of that name passes no check: the installation needs a folder.
    // One made here, also on an earlier visit, is the setup's to take back.
    static char lastMade[PATH_SIZE];
    char* made = lastMade;
    HOLD_ADDRESS(made);
    if (!IsFolder(folder)) {
        if (!CreateDirectoryA(folder, 0)) {
            ShowFailure(page, TEXT_CANNOT_CREATE_DIR, folder);
            return;
        }
        CopyString(made, folder);
    }
    // Typed again in other letters' case, it is still the folder made.
    g_setup.madeFolder = !lstrcmpiA(made, folder);
    EndDialog(page, PAGE_NEXT);
}

LATE_CODE INT_PTR CALLBACK DestinationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM)
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
            BrowseForFolder(page);
            ShowFolder(page);
            return TRUE;
        }
        break;
    }
    return HandleCommonPageMessage(page, message, wParam);
}
