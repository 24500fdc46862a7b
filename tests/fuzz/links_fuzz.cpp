// Any bytes as a group link list: every pair handed out is two terminated
// strings inside the buffer, back to back, and the walk moves past them.
#include "core/package.h"
#include "fuzz_check.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t length)
{
    if (length > 0xFFFFFFFFu)
        return 0;
    uint32_t size = (uint32_t)length;
    uint32_t count;
    if (!ReadLinkCount(data, size, &count))
        return 0;

    uint32_t offset = 4;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t start = offset;
        const char* target;
        const char* name;
        if (!NextGroupLink(data, size, &offset, &target, &name)) {
            FUZZ_CHECK(offset == start);
            break;
        }
        FUZZ_CHECK((const unsigned char*)target == data + start);
        size_t targetLength = std::strlen(target);
        FUZZ_CHECK(name == target + targetLength + 1);
        size_t nameLength = std::strlen(name);
        FUZZ_CHECK(offset == start + targetLength + 1 + nameLength + 1);
        FUZZ_CHECK(offset <= size);
    }
    return 0;
}
