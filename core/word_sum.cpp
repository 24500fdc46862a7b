// The loops of the image checksum: they read every byte of the setup's
// file before the first page shows, so they are built for speed where the
// rest of the setup is built for size. Thirty-two bytes at a time where the
// processor has SSE2 (every 64-bit one, nearly every 32-bit one), a word at
// a time where it has not (SumWords in checksum.cpp chooses); the tests
// hold the two to each other.
#include "checksum.h"
#include "package.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#endif

__attribute__((noinline)) uint64_t SumWordsPlain(const unsigned char* data, uint32_t count)
{
    uint32_t low = 0, high = 0;
    for (uint32_t i = 0; i < count; i += 4) {
        const uint32_t word = ReadUint32(data + i);
        low += word;
        high += low < word;
    }
    return (uint64_t)high << 32 | low;
}

#if defined(__x86_64__) || defined(__i386__)
// Each word widened into a 64-bit lane, which no file could overflow;
// thirty-two bytes a turn into four sums of their own, so that no addition
// waits for the one before it. The last words, fewer than eight, go into
// the lanes too: a call here would make the function realign its stack.
__attribute__((target("sse2"))) uint64_t SumWordsVector(const unsigned char* data, uint32_t count)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i a = zero, b = zero, c = zero, d = zero;
    for (const unsigned char* end = data + (count & ~31u); data != end; data += 32) {
        const __m128i first = _mm_loadu_si128((const __m128i*)data);
        const __m128i second = _mm_loadu_si128((const __m128i*)(data + 16));
        a = _mm_add_epi64(a, _mm_unpacklo_epi32(first, zero));
        b = _mm_add_epi64(b, _mm_unpackhi_epi32(first, zero));
        c = _mm_add_epi64(c, _mm_unpacklo_epi32(second, zero));
        d = _mm_add_epi64(d, _mm_unpackhi_epi32(second, zero));
    }
    __m128i sum = _mm_add_epi64(_mm_add_epi64(a, b), _mm_add_epi64(c, d));
    for (uint32_t i = 0; i < (count & 31); i += 4)
        sum = _mm_add_epi64(sum, _mm_cvtsi32_si128((int)ReadUint32(data + i)));
    sum = _mm_add_epi64(sum, _mm_unpackhi_epi64(sum, sum));
    const uint32_t low = (uint32_t)_mm_cvtsi128_si32(sum);
    const uint32_t high = (uint32_t)_mm_cvtsi128_si32(_mm_srli_si128(sum, 4));
    return (uint64_t)high << 32 | low;
}
#endif
