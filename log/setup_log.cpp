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
#include "core/setup.h"
#include "core/texts.h"

// Set once the user has chosen to go on without the log.
static bool s_givenUp;

// The copy is named as long as the log, so that it fits wherever the log
// does: setup.log becomes setup.tmp.
static bool SaveChange(const char* section, const char* key, const char* value)
{
    const char* log = g_setup.logPath;
    char temp[PATH_SIZE];
    CopyString(temp, log);
    memcpy(temp + strlen(temp) - 3, "tmp", 3);
    // A log that is there but cannot be read is not written over: that
    // would lose what it records. A folder in its place is reported when
    // the copy cannot be moved over it.
    if (!CopyFileA(log, temp, FALSE)) {
        if (IsFile(log))
            return false;
        DeleteFileA(temp);
    }
    if (!WritePrivateProfileStringA(section, key, value, temp))
        return false;
    // Taking away what was never there writes nothing.
    if (!PathExists(temp))
        return true;
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    bool ok = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    ok = ok && MoveFileExA(temp, log, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok)
        DeleteFileA(temp);
    return ok;
}

// One change, asked about while it cannot be written; once the user has
// given the log up, tried once without asking. True when the log on disk
// holds it.
static bool UpdateLog(const char* section, const char* key, const char* value)
{
    // Until the copying page names the log there is nowhere to write.
    if (!g_setup.logPath[0])
        return false;
    while (!SaveChange(section, key, value)) {
        if (s_givenUp || !AskRetry(GetActiveWindow(), TEXT_CANNOT_WRITE, g_setup.logPath)) {
            s_givenUp = true;
            return false;
        }
    }
    return true;
}

bool LogWrite(const char* section, const char* key, const char* value)
{
    // A null value would take the key away instead of recording it.
    return UpdateLog(section, key, value ? value : "");
}

void LogForget(const char* section, const char* key)
{
    UpdateLog(section, key, 0);
}

bool LogWriteNumber(const char* section, const char* key, int number)
{
    char text[16];
    wsprintfA(text, "%i", number);
    return LogWrite(section, key, text);
}

static void NumberedKey(char* key, const char* prefix, int number)
{
    wsprintfA(key, "%s%i", prefix, number);
}

bool LogWriteNumbered(const char* section, const char* prefix, int number, const char* value)
{
    char key[32];
    NumberedKey(key, prefix, number);
    return LogWrite(section, key, value);
}

void LogForgetNumbered(const char* section, const char* prefix, int number)
{
    char key[32];
    NumberedKey(key, prefix, number);
    LogForget(section, key);
}

bool LogWriteList(const char* section, const char* const* pairs)
{
    for (; *pairs; pairs += 2)
        if (!LogWrite(section, pairs[0], pairs[1]))
            return false;
    return true;
}

bool LogReadNumbered(const char* section, const char* prefix, int number, char* value)
{
    char key[32];
    NumberedKey(key, prefix, number);
    return GetPrivateProfileStringA(section, key, "", value, PATH_SIZE, g_setup.logPath) != 0;
}
