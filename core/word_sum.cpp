// The loop of the image checksum: it reads every byte of the setup's file
// before the first page shows, so it is built for speed where the rest of
// the setup is built for size.
#include "checksum.h"
#include "package.h"

uint64_t SumWords(const unsigned char* data, uint32_t count)
{
    uint64_t sum = 0;
    for (uint32_t i = 0; i < count; i += 4)
        sum += ReadUint32(data + i);
    return sum;
}
