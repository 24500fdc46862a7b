// Any bytes as a setup's file: the image checksum agrees with its plain
// definition, taken whole or in pieces of any sizes, for any length and any
// place of the CheckSum field, odd ones included; and the fast word sum is
// the plain one from any start.
#include "core/checksum.h"
#include "fuzz_check.h"
#include "tests/checksum_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t length)
{
    if (length == 0 || length > 0xFFFFFFFFu)
        return 0;
    const uint32_t size = (uint32_t)length;
    const uint32_t start = data[0] % 4 < size ? data[0] % 4 : 0;
    const uint32_t count = (size - start) & ~3u;
    FUZZ_CHECK(SumWordsVector(data + start, count) == SumWordsPlain(data + start, count));

    uint32_t field, whole;
    if (!ComputeImageChecksum(data, size, &whole))
        return 0;
    FUZZ_CHECK(FindChecksumField(data, size, &field));
    FUZZ_CHECK(whole == ReferenceChecksum(data, size, field));

    // Pieces whose sizes the input itself chooses, from 1 byte up.
    ImageChecksum pieces;
    BeginImageChecksum(&pieces, field);
    uint32_t at = 0, step = 1 + data[size - 1] % 13;
    while (at < size) {
        const uint32_t piece = size - at < step ? size - at : step;
        AddImageChecksum(&pieces, data + at, piece);
        at += piece;
        step = 1 + (step * 7 + data[at % size]) % 29;
    }
    FUZZ_CHECK(EndImageChecksum(&pieces) == whole);
    return 0;
}
