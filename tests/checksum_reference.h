// The image checksum by its plain definition, slow and obvious, to hold the
// setup's faster sum to: the file's 16-bit little-endian words added with
// end-around carry, the CheckSum field's four bytes counted as zero, an odd
// last byte as a word of its own, and the file's length added.
#ifndef MURM_TESTS_CHECKSUM_REFERENCE_H
#define MURM_TESTS_CHECKSUM_REFERENCE_H

#include <stdint.h>

inline uint32_t ReferenceChecksum(const unsigned char* data, uint32_t size, uint32_t field)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < size; i += 2) {
        uint32_t word = 0;
        for (uint32_t k = 0; k < 2 && i + k < size; ++k)
            if (i + k < field || i + k - field >= 4)
                word |= (uint32_t)data[i + k] << (8 * k);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + size;
}

#endif
