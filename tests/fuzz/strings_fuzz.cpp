// Any bytes as the setup strings and as the display name: the strings read
// intact lie back to back inside the buffer, each one after a damaged
// string is "", and a name without its NUL reads as "".
#include "core/package.h"
#include "fuzz_check.h"

#include <cstring>

static bool Inside(const char* text, const unsigned char* data, uint32_t size)
{
    const unsigned char* p = (const unsigned char*)text;
    return p >= data && p < data + size && std::memchr(p, 0, data + size - p);
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t length)
{
    if (length > 0xFFFFFFFFu)
        return 0;
    uint32_t size = (uint32_t)length;

    const char* strings[SETUP_STRING_COUNT];
    int intact = ReadSetupStrings(data, size, strings);
    FUZZ_CHECK(intact >= 0 && intact <= SETUP_STRING_COUNT);
    const char* expected = (const char*)data;
    for (int i = 0; i < SETUP_STRING_COUNT; ++i) {
        if (i < intact) {
            FUZZ_CHECK(strings[i] == expected);
            FUZZ_CHECK(Inside(strings[i], data, size));
            expected = strings[i] + std::strlen(strings[i]) + 1;
        } else {
            FUZZ_CHECK(strings[i][0] == 0);
        }
    }
    if (intact < SETUP_STRING_COUNT)
        FUZZ_CHECK(!std::memchr(expected, 0, data + size - (const unsigned char*)expected));

    const char* name = ReadDisplayName(data, size);
    if (std::memchr(data, 0, size))
        FUZZ_CHECK(name == (const char*)data);
    else
        FUZZ_CHECK(name[0] == 0);
    return 0;
}
