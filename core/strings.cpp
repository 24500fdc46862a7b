// The one way paths and names are joined: into fixed buffers, refusing
// rather than truncating, because a cut path names another file.
#include "setup.h"

bool JoinText(char* out, int size, const char* a, const char* b, const char* c, const char* d)
{
    const char* parts[4] = {a, b, c, d};
    int length = 0;
    for (int i = 0; i < 4; ++i)
        length += lstrlenA(parts[i]);
    if (length > size - 1 || length > LONG_PATH_SIZE - 1) {
        out[0] = 0;
        return false;
    }
    // The pieces may overlap out (JoinPath(folder, folder, ...)): build the
    // result aside first.
    char joined[LONG_PATH_SIZE];
    char* end = joined;
    for (int i = 0; i < 4; ++i)
        for (const char* p = parts[i]; *p; ++p)
            *end++ = *p;
    *end = 0;
    lstrcpyA(out, joined);
    return true;
}

bool JoinStrings(char* out, const char* a, const char* b, const char* c, const char* d)
{
    return JoinText(out, PATH_SIZE, a, b, c, d);
}

bool JoinPath(char* out, const char* folder, const char* name, const char* suffix)
{
    return JoinStrings(out, folder, "\\", name, suffix);
}

bool CopyString(char* out, const char* text)
{
    return JoinStrings(out, text, "");
}

void TrimNameEnd(char* name)
{
    int length = lstrlenA(name);
    while (length > 0 && (name[length - 1] == ' ' || name[length - 1] == '.'))
        name[--length] = 0;
}
