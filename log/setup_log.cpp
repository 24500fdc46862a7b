// setup.log: the record of the installation that the product's uninstaller
// reads. Every write goes straight to the file through the profile-string
// functions, so keys keep the place of their first write and a key written
// again is replaced where it stands.
#include "core/setup.h"
#include "core/texts.h"

// Set once the user has chosen to go on without the log.
static bool logGivenUp;

void LogWrite(const char* section, const char* key, const char* value)
{
    // Until the copying page names the log there is nowhere to write; an
    // empty file name would send the profile functions to win.ini.
    if (!g_setup.logPath[0])
        return;
    // A null value would delete the key instead of recording it. Without
    // the log the uninstaller has nothing to undo: the user is told, as for
    // any file that cannot be written, and may put it right and retry, or go
    // on without it and not be asked again.
    while (!WritePrivateProfileStringA(section, key, value ? value : "", g_setup.logPath) &&
           !logGivenUp) {
        if (!AskRetry(GetActiveWindow(), TEXT_CANNOT_WRITE, g_setup.logPath))
            logGivenUp = true;
    }
}

void LogWriteNumber(const char* section, const char* key, int number)
{
    char text[16];
    wsprintfA(text, "%i", number);
    LogWrite(section, key, text);
}

void LogWriteNumbered(const char* section, const char* prefix, int number, const char* value)
{
    char key[32];
    wsprintfA(key, "%s%i", prefix, number);
    LogWrite(section, key, value);
}

void LogWriteList(const char* section, const char* const* pairs)
{
    for (; *pairs; pairs += 2)
        LogWrite(section, pairs[0], pairs[1]);
}
