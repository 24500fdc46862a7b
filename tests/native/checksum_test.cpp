// The image checksum against its plain definition: odd lengths, the
// CheckSum field at odd places, pieces of every size, and the damage the
// end-to-end tests inflict, which must always show.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/checksum.h"
#include "tests/checksum_reference.h"

namespace {

// Bytes that look like an image to FindChecksumField, its PE headers at pe,
// the rest filled from a simple generator.
std::vector<unsigned char> MakeImage(uint32_t size, uint32_t pe, uint32_t seed)
{
    std::vector<unsigned char> b(size);
    for (uint32_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = (unsigned char)(seed >> 16);
    }
    b[0] = 'M';
    b[1] = 'Z';
    for (int k = 0; k < 4; ++k)
        b[PE_SIGNATURE_POINTER + k] = (unsigned char)(pe >> (8 * k));
    b[pe] = 'P';
    b[pe + 1] = 'E';
    b[pe + 2] = b[pe + 3] = 0;
    b[pe + PE_FILE_HEADER_OFFSET + 16] = 224;
    b[pe + PE_FILE_HEADER_OFFSET + 17] = 0;
    return b;
}

TEST(ImageChecksum, AgreesWithItsDefinitionInAnyPieces)
{
    for (uint32_t size : {400u, 401u, 402u, 403u, 4099u, 65536u + 3})
        for (uint32_t pe : {64u, 65u, 66u, 67u}) {
            SCOPED_TRACE("size " + std::to_string(size) + ", PE headers at " + std::to_string(pe));
            const std::vector<unsigned char> b = MakeImage(size, pe, size * 31 + pe);
            uint32_t field, whole;
            ASSERT_TRUE(FindChecksumField(b.data(), size, &field));
            ASSERT_TRUE(ComputeImageChecksum(b.data(), size, &whole));
            EXPECT_EQ(whole, ReferenceChecksum(b.data(), size, field));
            for (uint32_t piece : {1u, 2u, 3u, 5u, 4096u, 65537u}) {
                ImageChecksum sum;
                BeginImageChecksum(&sum, field);
                for (uint32_t at = 0; at < size; at += piece)
                    AddImageChecksum(&sum, b.data() + at, size - at < piece ? size - at : piece);
                EXPECT_EQ(EndImageChecksum(&sum), whole) << "pieces of " << piece;
            }
        }
}

// Sums that carry past 16 and 32 bits: a file of zeros, one of 0xFF
// bytes, and words that add up to a multiple of 0xFFFF, whose folded sum
// is 0xFFFF and never 0. Taken in pieces, and the setup's way: the field
// zeroed in place and the bytes summed with nothing left out.
TEST(ImageChecksum, CarriesComeBackAtTheBottom)
{
    std::vector<std::vector<unsigned char>> files;
    files.push_back(std::vector<unsigned char>(64));
    files.push_back(std::vector<unsigned char>(70001, 0xFF));
    files.push_back(std::vector<unsigned char>(64));
    files.back()[0] = files.back()[1] = files.back()[2] = files.back()[3] = 0xFF;
    files.push_back(std::vector<unsigned char>(65));
    files.back()[64] = 0xFF;
    files.back()[31] = 0xFF;
    for (const std::vector<unsigned char>& file : files)
        for (uint32_t field : {8u, 9u}) {
            const uint32_t size = (uint32_t)file.size();
            SCOPED_TRACE("size " + std::to_string(size) + ", field at " + std::to_string(field));
            const uint32_t expected = ReferenceChecksum(file.data(), size, field);
            std::vector<unsigned char> zeroed = file;
            for (int k = 0; k < 4; ++k)
                zeroed[field + k] = 0;
            for (uint32_t piece : {1u, 3u, 4096u, 70001u}) {
                ImageChecksum sum;
                BeginImageChecksum(&sum, field);
                uint32_t plain = 0;
                for (uint32_t at = 0; at < size; at += piece) {
                    const uint32_t count = size - at < piece ? size - at : piece;
                    AddImageChecksum(&sum, file.data() + at, count);
                    plain = AddChecksumBytes(plain, zeroed.data() + at, count, at);
                }
                EXPECT_EQ(EndImageChecksum(&sum), expected) << "pieces of " << piece;
                EXPECT_EQ(FinishChecksum(plain, size), expected) << "pieces of " << piece;
            }
        }
}

// The thirty-two-bytes-a-turn sum and the word-at-a-time one agree, at
// every alignment and length, with the words' top bits set so that any
// carry lost between lanes would show.
TEST(ImageChecksum, TheFastSumIsThePlainOne)
{
    std::vector<unsigned char> b = MakeImage(70000, 64, 99);
    for (size_t i = 0; i < b.size(); i += 4)
        b[i + 3] |= 0x80;
    for (uint32_t start = 0; start < 4; ++start)
        for (uint32_t count : {0u, 4u, 12u, 16u, 20u, 64u, 4096u, 65536u, 69992u}) {
            SCOPED_TRACE(std::to_string(start) + " + " + std::to_string(count));
            const uint64_t plain = SumWordsPlain(b.data() + start, count);
            EXPECT_EQ(SumWordsVector(b.data() + start, count), plain);
            EXPECT_EQ(SumWords(b.data() + start, count), plain);
        }
}

// A word with all bits set where the field is, and the rest zero but for
// the headers: the field's bytes must not count, however they went in.
TEST(ImageChecksum, TheFieldNeverCounts)
{
    for (uint32_t pe : {64u, 65u}) {
        std::vector<unsigned char> b = MakeImage(512, pe, 7), zeroed = b;
        uint32_t field, with, without;
        ASSERT_TRUE(FindChecksumField(b.data(), 512, &field));
        for (int k = 0; k < 4; ++k) {
            b[field + k] = 0xFF;
            zeroed[field + k] = 0;
        }
        ASSERT_TRUE(ComputeImageChecksum(b.data(), 512, &with));
        ASSERT_TRUE(ComputeImageChecksum(zeroed.data(), 512, &without));
        EXPECT_EQ(with, without);
    }
}

}  // namespace
