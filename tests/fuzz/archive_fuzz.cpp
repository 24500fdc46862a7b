// Any bytes as a payload archive, walked as the extraction walks it: every
// entry handed out lies inside the buffer, the walk only moves forward, and
// the progress shares of a consistent archive never pass 100.
#include "core/package.h"
#include "fuzz_check.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t length)
{
    if (length > 0xFFFFFFFFu)
        return 0;
    uint32_t size = (uint32_t)length;
    uint32_t total, count;
    if (!ReadArchiveHeader(data, size, &total, &count))
        return 0;

    uint32_t offset = ARCHIVE_HEADER_SIZE;
    uint32_t progress = 0;
    uint64_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t start = offset;
        ArchiveEntry entry;
        if (!NextArchiveEntry(data, size, &offset, &entry)) {
            FUZZ_CHECK(offset == start);
            break;
        }
        FUZZ_CHECK((const unsigned char*)entry.name == data + start);
        FUZZ_CHECK(std::strlen(entry.name) < ENTRY_NAME_SIZE);
        FUZZ_CHECK(entry.bytes == data + start + ENTRY_HEADER_SIZE);
        FUZZ_CHECK(offset == start + ENTRY_HEADER_SIZE + entry.size);
        FUZZ_CHECK(offset <= size);
        TouchRange(entry.bytes, entry.size);
        sum += entry.size;
        progress = AddProgressShare(progress, entry.size, total);
    }
    if (total >= sum)
        FUZZ_CHECK(progress <= 100);
    return 0;
}
