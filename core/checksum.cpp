// The image checksum, shared by the setup's check of its own file and the
// host tools. The loops over the file's words are in word_sum.cpp.
#include "checksum.h"
#include "package.h"

#if defined(__i386__)
#include <cpuid.h>
#endif

bool FindChecksumField(const unsigned char* data, uint32_t size, uint32_t* field)
{
    if (!data || size < PE_SIGNATURE_POINTER + 4 || data[0] != 'M' || data[1] != 'Z')
        return false;
    uint32_t pe = ReadUint32(data + PE_SIGNATURE_POINTER);
    // Subtractions only: pe + anything could wrap.
    if (pe > size || size - pe < PE_OPTIONAL_HEADER_OFFSET + PE_OPTIONAL_CHECKSUM + 4)
        return false;
    if (data[pe] != 'P' || data[pe + 1] != 'E' || data[pe + 2] != 0 || data[pe + 3] != 0)
        return false;
    const unsigned char* optionalSize = data + pe + PE_FILE_HEADER_OFFSET + 16;
    if ((optionalSize[0] | (optionalSize[1] << 8)) < (int)(PE_OPTIONAL_CHECKSUM + 4))
        return false;
    *field = pe + PE_OPTIONAL_HEADER_OFFSET + PE_OPTIONAL_CHECKSUM;
    return true;
}

uint64_t SumWords(const unsigned char* data, uint32_t count)
{
#if defined(__x86_64__)
    return SumWordsVector(data, count);
#elif defined(__i386__)
    // Every processor the setup runs on knows CPUID; bit 26 of EDX in its
    // leaf 1 is SSE2.
    unsigned a, b, c, d;
    __cpuid(1, a, b, c, d);
    return (d & bit_SSE2) ? SumWordsVector(data, count) : SumWordsPlain(data, count);
#else
    return SumWordsPlain(data, count);
#endif
}

void BeginImageChecksum(ImageChecksum* checksum, uint32_t field)
{
    checksum->sum = 0;
    checksum->fieldSum = 0;
    checksum->length = 0;
    checksum->field = field;
}

// The weight of a byte at file position position in a sum folded modulo
// 0xFFFF: the low or the high half of its 16-bit word. A 32-bit word added
// as one number adds its high half 65536 times, which is the same as once
// in such a sum; and the folded sum is 0 only for a file of zeros either
// way. So whole words go in at a time, from even positions.
static uint32_t Weighted(unsigned char byte, uint32_t position)
{
    return (uint32_t)byte << (8 * (position & 1));
}

void AddImageChecksum(ImageChecksum* checksum, const unsigned char* data, uint32_t size)
{
    const uint32_t start = checksum->length;
    // The CheckSum field goes in with the rest and is taken out at the end,
    // by its weight in the folded sum. Each of its bytes went in with at
    // least that weight, so the sum cannot fall below zero.
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t at = checksum->field + k;
        if (at >= start && at - start < size)
            checksum->fieldSum += Weighted(data[at - start], at);
    }
    uint64_t sum = checksum->sum;
    uint32_t i = 0;
    if (size > 0 && (start & 1))
        sum += Weighted(data[i++], start);
    const uint32_t words = (size - i) & ~3u;
    sum += SumWords(data + i, words);
    for (i += words; i < size; ++i)
        sum += Weighted(data[i], start + i);
    checksum->sum = sum;
    checksum->length = start + size;
}

uint32_t EndImageChecksum(const ImageChecksum* checksum)
{
    uint64_t sum = checksum->sum - checksum->fieldSum;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)sum + checksum->length;
}

bool ComputeImageChecksum(const unsigned char* data, uint32_t size, uint32_t* checksum)
{
    uint32_t field;
    if (!FindChecksumField(data, size, &field))
        return false;
    ImageChecksum state;
    BeginImageChecksum(&state, field);
    AddImageChecksum(&state, data, size);
    *checksum = EndImageChecksum(&state);
    return true;
}
