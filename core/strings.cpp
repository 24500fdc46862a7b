// The one way paths and names are joined: into fixed buffers, refusing
// rather than truncating, because a cut path names another file.
#include "setup.h"

// text behind end, up to limit; null when it does not fit, or when end
// is null already. A null text adds nothing: the pieces a caller leaves
// out cost it no address of an empty string.
static char* Append(char* end, const char* limit, const char* text)
{
    if (end && text)
        for (; *text; ++text) {
            if (end >= limit)
                return 0;
            *end++ = *text;
        }
    return end;
}

bool JoinText(char* out, int size, const char* a, const char* b, const char* c, const char* d)
{
    // The first piece may be out itself (JoinPath(folder, folder, ...)):
    // each of its characters is then copied onto itself.
    const char* limit = out + size - 1;
    char* end = Append(Append(Append(Append(out, limit, a), limit, b), limit, c), limit, d);
    if (!end) {
        out[0] = 0;
        return false;
    }
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
    return JoinStrings(out, text, 0);
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
    // Read side by side: b is longer when a ends first.
    const char* left = a;
    for (const char* right = b; *right; ++right)
        if (!*left++)
            return b;
    return a;
}

void TrimNameEnd(char* name)
{
    // The name ends behind its last character that is neither.
    char* end = name;
    for (; *name; ++name)
        if (*name != ' ' && *name != '.')
            end = name + 1;
    *end = 0;
}
