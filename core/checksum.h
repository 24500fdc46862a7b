// The image checksum of a PE file: the setup checks its own file against
// it, and the host tools set and check it. Portable like package.h: no
// windows.h and no library beyond the freestanding headers.
#ifndef MURM_CHECKSUM_H
#define MURM_CHECKSUM_H

#include <stdint.h>

// Where the DOS header keeps the file offset of the PE signature.
const uint32_t PE_SIGNATURE_POINTER = 0x3C;
// The signature (4 bytes) and the file header (20) come before the
// optional header; CheckSum lies at the same place in PE32 and PE32+.
const uint32_t PE_FILE_HEADER_OFFSET = 4;
const uint32_t PE_OPTIONAL_HEADER_OFFSET = 4 + 20;
const uint32_t PE_OPTIONAL_CHECKSUM = 64;

// The file offset of the CheckSum field of the image whose first size
// bytes are at data; false when they hold no DOS header, PE signature and
// optional header long enough to hold it.
bool FindChecksumField(const unsigned char* data, uint32_t size, uint32_t* field);

// The standard image checksum: the 16-bit little-endian words of the whole
// file added with end-around carry, the four bytes of the CheckSum field
// counted as zero, an odd last byte as a word of its own, and the file's
// length added to the folded sum.
//
// AddChecksumBytes takes the next size bytes, which lie at file position
// position, into a running sum (0 to begin with); FinishChecksum gives the
// checksum of a file of length bytes from the sum of all of them. The
// CheckSum field is the caller's to leave out or zero.
uint32_t AddChecksumBytes(uint32_t sum, const unsigned char* data, uint32_t size,
                          uint32_t position);
uint32_t FinishChecksum(uint32_t sum, uint32_t length);

// The same over consecutive pieces of any size, the field left out
// wherever it falls, so that a large file can be read through small views.
struct ImageChecksum {
    uint32_t sum;     // running sum of the bytes taken so far
    uint32_t length;  // bytes taken so far
    uint32_t field;   // file offset of the CheckSum field
};

void BeginImageChecksum(ImageChecksum* checksum, uint32_t field);
// Takes the next size bytes of the file.
void AddImageChecksum(ImageChecksum* checksum, const unsigned char* data, uint32_t size);
uint32_t EndImageChecksum(const ImageChecksum* checksum);

// The little-endian 32-bit words of count bytes (a multiple of 4) added
// up: core/word_sum.cpp. SumWords takes the fastest way the processor
// offers; the others are there for the tests to compare.
uint64_t SumWords(const unsigned char* data, uint32_t count);
uint64_t SumWordsPlain(const unsigned char* data, uint32_t count);
#if defined(__x86_64__) || defined(__i386__)
uint64_t SumWordsVector(const unsigned char* data, uint32_t count);
#endif

// The checksum of a whole file in memory; false when it is no PE image.
bool ComputeImageChecksum(const unsigned char* data, uint32_t size, uint32_t* checksum);

#endif
