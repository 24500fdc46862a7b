// Windows-1251, the setup's code page, to and from UTF-8 (package.txt and
// the terminal), through iconv(3).
#include "pkgbuild.h"

#include "core/package.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

static iconv_t OpenConverter(const char* to, const char* from)
{
    iconv_t converter = iconv_open(to, from);
    if (converter == (iconv_t)-1)
        Fail("cannot convert from %s to %s: %s", from, to, std::strerror(errno));
    return converter;
}

// Appends to out what in converts to, up to the first byte the conversion
// refuses or the end; returns how many bytes of in were converted.
static size_t Convert(iconv_t converter, const char* in, size_t size, std::string* out)
{
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* from = const_cast<char*>(in);
    size_t left = size;
    while (left > 0) {
        char buffer[1024];
        char* to = buffer;
        size_t room = sizeof buffer;
        const size_t result = iconv(converter, &from, &left, &to, &room);
        out->append(buffer, (size_t)(to - buffer));
        if (result == (size_t)-1 && errno != E2BIG)
            break;
    }
    return (size_t)(from - in);
}

// iconv says where UTF-8 goes wrong but not how; the bytes there tell.
[[noreturn]] static void FailMalformed(const std::string& text, size_t at,
                                       const std::string& where, const std::string& what)
{
    const unsigned char lead = (unsigned char)text[at];
    const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0)
        Fail("%s: %s is not valid UTF-8 (byte 0x%02X at %zu)", where.c_str(), what.c_str(), lead,
             at);
    if (text.size() - at < length)
        Fail("%s: %s is not valid UTF-8 (truncated character at %zu)", where.c_str(),
             what.c_str(), at);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = (unsigned char)text[at + k];
        if ((next & 0xC0) != 0x80)
            Fail("%s: %s is not valid UTF-8 (byte 0x%02X at %zu)", where.c_str(), what.c_str(),
                 next, at + k);
    }
    // Well formed, but for no character: an overlong form, a surrogate or
    // a code point past U+10FFFF.
    Fail("%s: %s is not valid UTF-8 (bad sequence at %zu)", where.c_str(), what.c_str(), at);
}

// Converts UTF-8 text to Windows-1251, failing on malformed UTF-8 and on a
// character the code page lacks; what names the item for the message.
std::string ToCp1251(const std::string& text, const std::string& where, const std::string& what)
{
    // Through UTF-32, because iconv reports a character the code page
    // lacks just as it reports malformed UTF-8. Decoding refuses only the
    // malformed (glibc's UTF-8 decoder lets code points past U+10FFFF
    // through; its UTF-32 encoder stops them), encoding only the lacking.
    static const iconv_t decoder = OpenConverter("UTF-32LE", "UTF-8");
    static const iconv_t encoder = OpenConverter("CP1251", "UTF-32LE");
    std::string codes;
    const size_t decoded = Convert(decoder, text.data(), text.size(), &codes);
    // glibc drops the tag characters U+E0000..U+E007F where the target
    // lacks them instead of refusing them: the encoding stops before the
    // first, which is then refused like any other character.
    size_t end = 0;
    while (end < codes.size() &&
           ReadUint32((const unsigned char*)codes.data() + end) >> 7 != 0xE0000 >> 7)
        end += 4;
    std::string out;
    const size_t encoded = Convert(encoder, codes.data(), end, &out);
    // Whichever comes first in the text is named.
    if (encoded < codes.size())
        Fail("%s: %s \"%s\" holds U+%04X, which Windows-1251 cannot store", where.c_str(),
             what.c_str(), text.c_str(),
             (unsigned)ReadUint32((const unsigned char*)codes.data() + encoded));
    if (decoded < text.size())
        FailMalformed(text, decoded, where, what);
    return out;
}

// Windows-1251 text from a setup, in UTF-8 for the terminal. Control
// characters, the byte the code page leaves without a character (0x98)
// and the backslash come out as \xNN, so that a damaged or hostile setup
// cannot drive the terminal or pass one name off as another.
std::string FromCp1251(const char* text)
{
    static const iconv_t decoder = OpenConverter("UTF-8", "CP1251");
    std::string out;
    const char* next = text;
    while (*next) {
        const char* end = next;
        while (*end && (unsigned char)*end >= 0x20 && *end != 0x7F && *end != '\\')
            ++end;
        // Stops early only at 0x98.
        next += Convert(decoder, next, (size_t)(end - next), &out);
        if (*next) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", (unsigned char)*next);
            out += escaped;
            ++next;
        }
    }
    return out;
}
