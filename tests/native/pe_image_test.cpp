// The PE reader on damaged copies of each build's setup.exe: it says no
// instead of reading outside the bytes it was given.
#include "setup_image.h"

namespace {

uint32_t Get32(const Bytes& b, uint32_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}

void Put32(Bytes& b, uint32_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (unsigned char)(value >> (8 * i));
}

bool AnyBlock(uint32_t, const unsigned char*, uint32_t, void*)
{
    return true;
}

bool CountResource(const PeResource*, void* context)
{
    ++*(int*)context;
    return true;
}

// Exact-size copies, so that a read outside shows under the sanitizers.
TEST_P(SetupImage, ReaderRefusesDamagedCopies)
{
    const Bytes& good = image_.bytes;
    const PeHeaders& h = image_.headers;
    const uint32_t tableEnd = h.sectionTable + h.sectionCount * PE_SECTION_HEADER_SIZE;
    PeHeaders read;
    for (uint32_t size = 0; size < tableEnd; ++size) {
        const Bytes cut(good.begin(), good.begin() + size);
        ASSERT_FALSE(ReadPeHeaders(cut.data(), size, &read)) << "headers cut to " << size;
    }
    const Bytes headersOnly(good.begin(), good.begin() + tableEnd);
    ASSERT_TRUE(ReadPeHeaders(headersOnly.data(), tableEnd, &read));
    uint32_t offset;
    EXPECT_FALSE(MapPeRva(headersOnly.data(), tableEnd, &read,
                          h.directories[PE_DIRECTORY_RESOURCE].rva, 1, &offset))
        << "sections beyond the file";

    const uint32_t pe = h.optionalHeader - PE_OPTIONAL_HEADER_OFFSET;
    Bytes bad = good;
    Put32(bad, PE_SIGNATURE_POINTER, (uint32_t)bad.size() - 8);
    EXPECT_FALSE(ReadPeHeaders(bad.data(), (uint32_t)bad.size(), &read)) << "signature outside";
    bad = good;
    bad[h.optionalHeader] = 0x07;
    EXPECT_FALSE(ReadPeHeaders(bad.data(), (uint32_t)bad.size(), &read)) << "unknown magic";
    bad = good;
    const uint32_t countAt = h.magic == PE_MAGIC_PE32 ? 92 : 108;
    Put32(bad, h.optionalHeader + countAt, 17);
    EXPECT_FALSE(ReadPeHeaders(bad.data(), (uint32_t)bad.size(), &read)) << "directories overrun";
    bad = good;
    bad[pe + PE_FILE_HEADER_OFFSET + 2] = bad[pe + PE_FILE_HEADER_OFFSET + 3] = 0xFF;
    EXPECT_FALSE(ReadPeHeaders(bad.data(), (uint32_t)bad.size(), &read)) << "section table overrun";

    // The resource tree: its first type entry's first data entry made to
    // lie outside the file, then its root made to claim more entries than
    // the section holds.
    uint32_t root;
    ASSERT_TRUE(MapPeRva(good.data(), (uint32_t)good.size(), &h,
                         h.directories[PE_DIRECTORY_RESOURCE].rva, 16, &root));
    int count = 0;
    ASSERT_TRUE(WalkPeResources(good.data(), (uint32_t)good.size(), &h, CountResource, &count));
    ASSERT_GT(count, 0);
    uint32_t at = root;
    for (int level = 0; level < 2; ++level)
        at = root + (Get32(good, at + 16 + 4) & 0x7FFFFFFF);
    const uint32_t dataEntry = root + Get32(good, at + 16 + 4);
    bad = good;
    Put32(bad, dataEntry, 0x7FFFFFF0);
    EXPECT_FALSE(WalkPeResources(bad.data(), (uint32_t)bad.size(), &h, CountResource, &count));
    bad = good;
    Put32(bad, dataEntry + 4, (uint32_t)bad.size());
    EXPECT_FALSE(WalkPeResources(bad.data(), (uint32_t)bad.size(), &h, CountResource, &count))
        << "data running past the end";
    bad = good;
    bad[root + 14] = 0xFF;
    bad[root + 15] = 0xFF;
    EXPECT_FALSE(WalkPeResources(bad.data(), (uint32_t)bad.size(), &h, CountResource, &count));

    // A relocation block that claims no room for itself.
    ASSERT_TRUE(MapPeRva(good.data(), (uint32_t)good.size(), &h,
                         h.directories[PE_DIRECTORY_BASERELOC].rva, 8, &at));
    bad = good;
    Put32(bad, at + 4, 0);
    EXPECT_FALSE(WalkPeRelocations(bad.data(), (uint32_t)bad.size(), &h, AnyBlock, nullptr));
}

INSTANTIATE_TEST_SUITE_P(Builds, SetupImage, ::testing::ValuesIn(Builds()), BuildName);

}  // namespace
