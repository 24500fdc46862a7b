// Writing the payload: every archive entry becomes a file in the
// installation folder, an existing file only after the user agrees, and
// each file written is recorded under [Files] for the uninstaller.
#include "core/setup.h"
#include "core/texts.h"
#include "log/setup_log.h"

// Large enough that the pieces cost nothing, small enough that even a slow
// disk writes one well within the few seconds after which the system calls
// a window that has not looked at its messages "not responding".
static const DWORD WRITE_PIECE = 32u << 20;

void AdvanceProgress(HWND page, uint32_t size)
{
    g_setup.progress = AddProgressShare(g_setup.progress, size, g_setup.payloadTotal);
    SendMessageA(page, MSG_UPDATE_PROGRESS, 0, 0);
    KeepResponsive();
}

// Only a Yes replaces the user's file; a box that could not be shown is
// not one.
static bool AskOverwrite(HWND page, const char* name)
{
    return ShowProblem(page, MB_YESNO, TEXT_OVERWRITE, name, TEXT_OVERWRITE_END) == IDYES;
}


// Creates one file and writes the entry's bytes into it right from the
// resource. Returns true when every byte was written. *created tells
// whether a file of ours now stands at the path, complete or not.
static bool WriteEntry(const char* path, const ArchiveEntry& entry, bool* created)
{
    HANDLE file = OpenForWriting(path, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    *created = true;
    // Straight from the resource's memory, in pieces, so that between them
    // the system can see the page is alive during a long copy.
    const unsigned char* next = entry.bytes;
    uint32_t left = entry.size;
    bool ok = true;
    while (ok && left) {
        DWORD piece = left < WRITE_PIECE ? left : WRITE_PIECE, written;
        ok = WriteFile(file, next, piece, &written, 0) && written == piece;
        next += piece;
        left -= piece;
        KeepResponsive();
    }
    CloseHandle(file);
    return ok;
}

// File<number> = path under [Files], or with a null path the key taken
// away. Out of line, as the next, so that the section and key are passed
// from one place.
static __attribute__((noinline)) bool LogFile(uint32_t number, const char* path)
{
    return LogWriteNumbered(LOG_FILES, LOG_FILE, (int)number, path);
}

// [Files] n: the entries and the files beyond the payload that are logged.
static __attribute__((noinline)) void LogFileCount(uint32_t entries)
{
    LogWriteNumber(LOG_FILES, KEY_COUNT, (int)(entries + EXTRA_FILE_COUNT));
}

// Whether the package's uninstaller was among the files given up.
static bool s_uninstallerLost;
// Which entries this run wrote, by number: a take-back removes those and no
// other file the log may name (an earlier run's that this one kept). A byte
// an entry rather than a bit: the bytes are only reserved, not in the file,
// and each one is set and tested in a single instruction. Numbers start at
// 1; the entries past the end, which no take-back reaches, are noted in the
// unused byte 0. A take-back looks at every byte, down from the last:
// those past the last entry were never set, and half a million bytes are
// read in no time.
static bool s_written[1 << 19];

static void ExtractEntry(const ArchiveEntry& entry, uint32_t index, HWND page)
{
    // The full path is what is tested, created and logged, so the file
    // lands where the log says whatever the current directory is. A path
    // too long for the system is never cut down into another name, only
    // shown whole: the user can just skip it.
    char path[LONG_PATH_SIZE];
    JoinText(path, LONG_PATH_SIZE, g_setup.installFolder, "\\", entry.name);
    const bool fits = (int)strlen(path) < PATH_SIZE;
    bool written = false;
    // A file the user keeps is not ours, and not logged.
    if (!fits || !PathExists(path) || AskOverwrite(page, entry.name)) {
        // Logged before it is made: a crash while it is written leaves
        // nothing the uninstaller does not know of.
        KeepFromRestartDeletion(path);
        if (LogFile(index, path)) {
            bool created = false;
            while (!(written = fits && WriteEntry(path, entry, &created)) &&
                   AskRetry(page, TEXT_CANNOT_WRITE, path))
                ;
            s_written[index < sizeof s_written ? index : 0] = written;
            // Skipped. A half-written file of ours is removed rather than
            // left as a damaged copy, and the log no longer names it.
            if (!written) {
                if (created)
                    DeleteFileA(path);
                LogFile(index, 0);
            }
        }
        if (!written) {
            ++g_setup.missingCount;
            s_uninstallerLost |= !lstrcmpiA(entry.name, g_setup.uninstallerName);
        }
    }
    // Every entry has its share of the bar, written or not, and a pause
    // the user can see it in: 200 ms after a file written, a quarter of
    // that after one skipped (a shift, cheaper than a choice).
    AdvanceProgress(page, entry.size);
    Sleep(50u << (2 * written));
}

void TakeBackPayload()
{
    char path[LONG_PATH_SIZE];
    for (uint32_t i = sizeof s_written; --i;)
        if (s_written[i] &&
            LogReadNumbered(LOG_FILES, LOG_FILE, (int)i, path))
            DeleteFileA(path);
    DiscardLog();
    if (g_setup.madeFolder)
        RemoveDirectoryA(g_setup.installFolder);
}

bool ExtractPayload(const unsigned char* archive, uint32_t size, HWND page)
{
    LogWrite(LOG_COMMON, LOG_PROGRAM_NAME, g_setup.displayName);
    LogWrite(LOG_FILES, KEY_DIR, g_setup.installFolder);

    // No header, no entries.
    uint32_t total, count = 0;
    ReadArchiveHeader(archive, size, &total, &count);
    LogFileCount(count);
    LogWriteNumber(LOG_FILES, LOG_SIZE, (int)g_setup.payloadTotal);

    uint32_t offset = ARCHIVE_HEADER_SIZE, i = 0;
    ArchiveEntry entry;
    while (i < count && NextArchiveEntry(archive, size, &offset, &entry))
        ExtractEntry(entry, ++i, page);
    // A damaged count must not send the log's numbering (and the
    // uninstaller's walk over it) past the entries really there: n,
    // rewritten where it stands, counts those.
    if (i < count)
        LogFileCount(i);

    char path[PATH_SIZE];
    if (JoinPath(path, g_setup.installFolder, EXTRA_LOGGED_FILE))
        LogFile(i + 1, path);
    return !s_uninstallerLost;
}
