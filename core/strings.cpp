// The one way paths and names are joined: into PATH_SIZE buffers, refusing
// rather than truncating, because a cut path names another file.
#include "setup.h"

bool JoinStrings(char* out, const char* a, const char* b, const char* c, const char* d)
{
    const char* parts[4] = {a, b, c, d};
    int length = 0;
    for (int i = 0; i < 4; ++i)
        length += lstrlenA(parts[i]);
    if (length > PATH_SIZE - 1) {
        out[0] = 0;
        return false;
    }
    // The pieces may overlap out (JoinPath(folder, folder, ...)): build the
    // result aside first.
    char joined[PATH_SIZE];
    char* end = joined;
    for (int i = 0; i < 4; ++i)
        for (const char* p = parts[i]; *p; ++p)
            *end++ = *p;
    *end = 0;
    lstrcpyA(out, joined);
    return true;
}

bool JoinPath(char* out, const char* folder, const char* name, const char* suffix)
{
    return JoinStrings(out, folder, "\\", name, suffix);
}

bool CopyString(char* out, const char* text)
{
    return JoinStrings(out, text, "");
}
