// The one way paths and names are joined: into fixed buffers, refusing
// rather than truncating, because a cut path names another file.
#include "setup.h"

bool JoinText(char* out, int size, const char* a, const char* b, const char* c, const char* d)
{
    const char* parts[4] = {a, b, c, d};
    size_t length = 0;
    for (int i = 0; i < 4; ++i)
        length += strlen(parts[i]);
    if (length > (size_t)size - 1) {
        out[0] = 0;
        return false;
    }
    // The first piece may be out itself (JoinPath(folder, folder, ...)),
    // which then only grows.
    char* end = out + (a == out ? strlen(a) : 0);
    for (int i = a == out ? 1 : 0; i < 4; ++i)
        for (const char* p = parts[i]; *p; ++p)
            *end++ = *p;
    *end = 0;
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

bool IsBlankName(const char* name)
{
    if (!name[0])
        return false;
    for (; *name; ++name)
        if (*name != ' ' && *name != '.')
            return false;
    return true;
}

const char* LongerOf(const char* a, const char* b)
{
    return strlen(b) > strlen(a) ? b : a;
}

void TrimNameEnd(char* name)
{
    int length = (int)strlen(name);
    while (length > 0 && (name[length - 1] == ' ' || name[length - 1] == '.'))
        name[--length] = 0;
}
