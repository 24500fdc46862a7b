// setup.log: the record of the installation that the product's uninstaller
// reads. Every item is recorded before it is made, and the record must be
// whole at every instant: a setup ended by a crash or a power cut has to
// leave a log that the uninstaller can undo from.
//
// The profile-string functions write a file in place, so a crash in the
// middle of one of their writes can leave it empty or cut short. Each change
// is therefore made by them on a copy, setup.tmp beside the log, which is
// then flushed and moved over the log in one step: the log on disk is
// always the one before the change or the one after it. Its text is exactly
// theirs: a key keeps the place of its first write and is replaced where it
// stands, a new key goes at the end of its section, a new section at the
// end of the file.
//
// A folder may hold the log of an earlier run: a setup run again, or a later
// package of the product. What that log records must stay recorded, or its
// uninstaller could no longer undo it. So, in such a folder, a key that
// records an item and is written with another value first puts the item it
// recorded into [Earlier], and nothing is taken out; a numbered key past a
// count that went down stays where it is, and the uninstaller reads it
// still. A run of the same package writes every such key with the value it
// had, and so leaves the log as the profile functions update it in place.
#include "core/setup.h"
#include "core/texts.h"
#include "log/setup_log.h"

// Set once the user has chosen to go on without the log.
static bool s_givenUp;

// One change, asked about while it cannot be written; once the user has
// given the log up, tried once without asking. True when the log on disk
// holds it.
static bool UpdateLog(const char* section, const char* key, const char* value)
{
    // Until the copying page names the log there is nowhere to write.
    const char* log = g_setup.logPath;
    HOLD_ADDRESS(log);
    if (!log[0])
        return false;
    // The copy is named as long as the log, so that it fits wherever the
    // log does: setup.log becomes setup.tmp.
    char temp[PATH_SIZE];
    CopyString(temp, log);
    memcpy(temp + strlen(temp) - 3, LOG_TEMP_NAME + 6, 3);
    for (;;) {
        // A log that is there but cannot be read is not written over: that
        // would lose what it records. A folder in its place is reported
        // when the copy cannot be moved over it.
        bool ok = CopyFileA(log, temp, FALSE);
        if (!ok && !IsFile(log)) {
            DeleteFileA(temp);
            ok = true;
        }
        if (ok && WritePrivateProfileStringA(section, key, value, temp)) {
            // Taking away what was never there writes nothing.
            if (!PathExists(temp))
                return true;
            HANDLE file = OpenForWriting(temp, OPEN_EXISTING);
            ok = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
            if (ok && MoveFileExA(temp, log, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return true;
            DeleteFileA(temp);
        }
        if (s_givenUp || !AskRetry(GetActiveWindow(), TEXT_CANNOT_WRITE, log)) {
            s_givenUp = true;
            return false;
        }
    }
}

// Set when the log named held an earlier run's record.
static bool s_earlier;

void NameLog()
{
    char* log = g_setup.logPath;
    HOLD_ADDRESS(log);
    JoinPath(log, g_setup.installFolder, LOG_FILE_NAME);
    s_earlier = IsFile(log);
    KeepFromRestartDeletion(log);
}

void DiscardLog()
{
    if (!s_earlier)
        DeleteFileA(g_setup.logPath);
}

// prefix and number, as in File3, or with an empty prefix the number alone.
// Out of line, so that one call of wsprintfA serves every key and number.
static __attribute__((noinline)) void NumberedKey(char* key, const char* prefix, int number)
{
    wsprintfA(key, "%s%i", prefix, number);
}

static bool ReadValue(const char* section, const char* key, char* value)
{
    // A null default reads as an empty string.
    return GetPrivateProfileStringA(section, key, 0, value, LONG_PATH_SIZE, g_setup.logPath) != 0;
}

bool LogReadNumbered(const char* section, const char* prefix, int number, char* value)
{
    char key[32];
    NumberedKey(key, prefix, number);
    return ReadValue(section, key, value);
}

// A section's n, as the setup writes it: decimal digits.
static int ReadCount(const char* section)
{
    char text[LONG_PATH_SIZE];
    int count = 0;
    ReadValue(section, KEY_COUNT, text);
    unsigned digit;
    for (const unsigned char* next = (const unsigned char*)text; (digit = *next - '0') < 10; ++next)
        count = count * 10 + (int)digit;
    return count;
}

// [Earlier] by this one address, which tells its own keys from those of
// the sections they come from.
static const char EARLIER[] = LOG_EARLIER;

// key = value, or with a number, key and number = value (File3 = ...); a
// null value takes the key away. Where an earlier run's log was found, a
// key that records an item puts the item it recorded into [Earlier] first
// when the value names another, and nothing is taken away: an earlier run
// may have recorded the same item under the key.
static bool Record(const char* section, const char* key, const char* value, int number)
{
    char old[LONG_PATH_SIZE], numbered[32];
    const char* kind = key;
    if (number) {
        NumberedKey(numbered, key, number);
        key = numbered;
    }
    if (s_earlier) {
        if (!value)
            return false;
        // File<i> and Link<i> record files; of the keys of one name, the
        // program group's folder and the uninstall entry's name record
        // items. The keys of [Earlier] record none of their own. Every
        // caller names a key by its constant, so the key's own text serves
        // as the kind: Dir as it is, and Key as the end of SubKey.
        static_assert(sizeof LOG_SUB_KEY == sizeof LOG_KEY + 3, "Key ends SubKey");
        bool records = true;
        if (number) {
            kind = LOG_FILE;
            records = section != EARLIER;
        } else if (!lstrcmpiA(key, KEY_SUB_KEY))
            kind += 3;
        else
            records = !lstrcmpiA(key, KEY_DIR) && !lstrcmpiA(section, LOG_LINKS);
        if (records && ReadValue(section, key, old) && lstrcmpiA(old, value)) {
            // Under a key of its kind (File, Dir or Key), as the next of
            // [Earlier].
            int next = ReadCount(EARLIER) + 1;
            if (Record(EARLIER, kind, old, next))
                LogWriteNumber(EARLIER, KEY_COUNT, next);
        }
    }
    return UpdateLog(section, key, value);
}

bool LogWrite(const char* section, const char* key, const char* value)
{
    // A null value would take the key away instead of recording it.
    return Record(section, key, value ? value : "", 0);
}

void LogForget(const char* section, const char* key)
{
    Record(section, key, 0, 0);
}

bool LogWriteNumber(const char* section, const char* key, int number)
{
    char text[16];
    NumberedKey(text, "", number);
    return LogWrite(section, key, text);
}

bool LogWriteNumbered(const char* section, const char* prefix, int number, const char* value)
{
    return Record(section, prefix, value, number);
}

void LogForgetNumbered(const char* section, const char* prefix, int number)
{
    LogWriteNumbered(section, prefix, number, 0);
}

bool LogWriteList(const char* section, const char* const* pairs)
{
    for (; *pairs; pairs += 2)
        if (!LogWrite(section, pairs[0], pairs[1]))
            return false;
    return true;
}
