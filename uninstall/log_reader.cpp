// Reading setup.log (log/setup_log.h describes it). The log lies in the
// installation folder, which every user of the machine may be able to
// change, so it is read as untrusted input: every value into a buffer of
// its own size, every count within bounds, every list cut off at a fixed
// number of entries. A log that is damaged or made up never makes the
// uninstaller crash, hang or run on without end; what its entries name is
// judged by ownership.cpp before anything is removed.
#include "uninst.h"

#include "../log/setup_log.h"

static char s_logPath[MAX_PATH];

bool NameLog(const char* folder)
{
    if (lstrlenA(folder) + (int)sizeof LOG_FILE_NAME + 1 > MAX_PATH) return false;
    wsprintfA(s_logPath, "%s\\" LOG_FILE_NAME, folder);
    return true;
}

const char* LogPath() { return s_logPath; }

int ReadLogValue(const char* section, const char* key, char* value)
{
    return (int)GetPrivateProfileStringA(section, key, "", value, VALUE_SIZE, s_logPath);
}

int ReadLogNumbered(const char* section, const char* prefix, int number, char* value)
{
    char key[32];
    wsprintfA(key, "%s%i", prefix, number);
    return ReadLogValue(section, key, value);
}

int ReadLogCount(const char* section)
{
    // The setup writes a handful of entries; a damaged count must not make
    // us spin through millions of missing keys.
    int count = (int)GetPrivateProfileIntA(section, LOG_COUNT, 0, s_logPath);
    if (count < 0) return 0;
    return count > MAX_LOG_ENTRIES ? MAX_LOG_ENTRIES : count;
}

// Every key of the section named prefix and a number counts, also one past
// the section's n: a later setup into the same folder lowers n and leaves
// what it no longer writes in place.
const char* ReadNumberedValues(const char* section, const char* prefix)
{
    // The profile functions cut a section that does not fit, and end it
    // with two NULs all the same.
    static char text[1 << 21];
    static char values[1 << 21];
    char* out = values;
    int prefixLength = lstrlenA(prefix);
    int taken = 0;
    GetPrivateProfileSectionA(section, text, sizeof text, s_logPath);
    for (char* entry = text; *entry && taken < MAX_LOG_ENTRIES; entry += lstrlenA(entry) + 1) {
        char* value = entry + prefixLength;
        if (lstrlenA(entry) < prefixLength ||
            CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry, prefixLength, prefix, prefixLength) !=
                CSTR_EQUAL ||
            *value < '0' || *value > '9')
            continue;
        while (*value >= '0' && *value <= '9') ++value;
        if (*value != '=') continue;
        // The values come out of text, so they fit values as they fitted
        // text.
        lstrcpyA(out, value + 1);
        out += lstrlenA(out) + 1;
        ++taken;
    }
    *out = 0;
    return values;
}

void ReadProgramName(char* name, int nameSize)
{
    char value[VALUE_SIZE];
    if (!ReadLogValue(LOG_COMMON, LOG_PROGRAM_NAME, value) || !value[0]) lstrcpyA(value, "Murmelist");
    lstrcpynA(name, value, nameSize);
}
