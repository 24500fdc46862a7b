// The image checksum, shared by the setup's check of its own file and the
// host tools. The loops over the file's words are in word_sum.cpp.
#include "checksum.h"
#include "package.h"

#if defined(__i386__)
#include <cpuid.h>
#endif

bool FindChecksumField(const unsigned char* data, uint32_t size, uint32_t* field)
{
    if (!data || size < PE_SIGNATURE_POINTER + 4 || (data[0] | data[1] << 8) != ('M' | 'Z' << 8))
        return false;
    uint32_t pe = ReadUint32(data + PE_SIGNATURE_POINTER);
    // Subtractions only: pe + anything could wrap.
    if (pe > size || size - pe < PE_OPTIONAL_HEADER_OFFSET + PE_OPTIONAL_CHECKSUM + 4)
        return false;
    // "PE" and two NULs.
    if (ReadUint32(data + pe) != ('P' | 'E' << 8))
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
    return ((d & bit_SSE2) ? SumWordsVector : SumWordsPlain)(data, count);
#else
    return SumWordsPlain(data, count);
#endif
}

// Adds value to a sum kept with end-around carry: a carry out of the top
// comes back in at the bottom. 65536 is 1 modulo 0xFFFF, and so is 2^32:
// the sum stays the same modulo 0xFFFF as the plain one, and stays 0 only
// while all that went in was 0, as the folded sum does. So it is never
// wider than 32 bits and never folded before the end.
static uint32_t AddWithCarry(uint32_t sum, uint32_t value)
{
    sum += value;
    return sum + (sum < value);
}

uint32_t AddChecksumBytes(uint32_t sum, const unsigned char* data, uint32_t size,
                          uint32_t position)
{
    // The piece summed as if it began at an even position, in 32-bit words
    // (one adds its high half 65536 times, the same as once), the last
    // one short of bytes filled with zeros.
    const uint32_t words = size & ~3u;
    const uint64_t wide = SumWords(data, words);
    uint32_t last = 0;
    for (uint32_t i = size; i > words;)
        last = last << 8 | data[--i];
    const uint32_t piece = AddWithCarry(AddWithCarry((uint32_t)wide, (uint32_t)(wide >> 32)), last);
    // From an odd position every byte is in the other half of its word:
    // the piece's sum times 256, which in a sum with end-around carry is
    // its rotation by 8 bits.
    return AddWithCarry(sum, position & 1 ? piece << 8 | piece >> 24 : piece);
}

uint32_t FinishChecksum(uint32_t sum, uint32_t length)
{
    // The two halves added with end-around carry, as the words were.
    const uint16_t high = (uint16_t)(sum >> 16);
    const uint16_t folded = (uint16_t)(sum + high);
    return folded + (folded < high) + length;
}

void BeginImageChecksum(ImageChecksum* checksum, uint32_t field)
{
    checksum->sum = 0;
    checksum->length = 0;
    checksum->field = field;
}

// The place of file offset at in the piece of size bytes from start: 0
// when it lies before the piece, size when behind it.
static uint32_t PlaceInPiece(int64_t at, uint32_t start, uint32_t size)
{
    at -= start;
    return at < 0 ? 0 : at > size ? size : (uint32_t)at;
}

void AddImageChecksum(ImageChecksum* checksum, const unsigned char* data, uint32_t size)
{
    const uint32_t start = checksum->length;
    // The piece's bytes in front of the CheckSum field and behind it.
    const uint32_t cut = PlaceInPiece(checksum->field, start, size);
    const uint32_t resume = PlaceInPiece((int64_t)checksum->field + 4, start, size);
    const uint32_t sum = AddChecksumBytes(checksum->sum, data, cut, start);
    checksum->sum = AddChecksumBytes(sum, data + resume, size - resume, start + resume);
    checksum->length = start + size;
}

uint32_t EndImageChecksum(const ImageChecksum* checksum)
{
    return FinishChecksum(checksum->sum, checksum->length);
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
