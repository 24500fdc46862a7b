// The package readers against hand-made bytes, well formed and damaged.
// Every buffer is a vector of exactly the resource's size, so that a read
// past the end shows under the sanitizers.
#include "core/package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

void AppendNumber(Bytes* bytes, uint32_t value)
{
    unsigned char raw[4];
    WriteUint32(raw, value);
    bytes->insert(bytes->end(), raw, raw + 4);
}

void AppendText(Bytes* bytes, const std::string& text, bool nul = true)
{
    bytes->insert(bytes->end(), text.begin(), text.end());
    if (nul)
        bytes->push_back(0);
}

void AppendEntry(Bytes* bytes, const std::string& name, uint32_t size, unsigned char fill)
{
    Bytes field(ENTRY_NAME_SIZE, 0);
    std::copy(name.begin(), name.end(), field.begin());
    bytes->insert(bytes->end(), field.begin(), field.end());
    AppendNumber(bytes, size);
    bytes->insert(bytes->end(), size, fill);
}

Bytes Archive(uint32_t total, uint32_t count)
{
    Bytes bytes;
    AppendNumber(&bytes, total);
    AppendNumber(&bytes, count);
    return bytes;
}

// Walks like the extraction does: at most count entries, stopping at the
// first that does not lie inside.
std::vector<std::string> WalkArchive(const Bytes& bytes, uint32_t* end = 0)
{
    std::vector<std::string> names;
    uint32_t total, count;
    if (!ReadArchiveHeader(bytes.data(), (uint32_t)bytes.size(), &total, &count))
        return names;
    uint32_t offset = ARCHIVE_HEADER_SIZE;
    ArchiveEntry entry;
    for (uint32_t i = 0; i < count; ++i) {
        if (!NextArchiveEntry(bytes.data(), (uint32_t)bytes.size(), &offset, &entry))
            break;
        EXPECT_GE(entry.bytes, bytes.data());
        EXPECT_LE(entry.bytes + entry.size, bytes.data() + bytes.size());
        names.push_back(entry.name);
    }
    if (end)
        *end = offset;
    return names;
}

TEST(ArchiveReader, WalksWellFormedEntriesToTheEnd)
{
    Bytes bytes = Archive(7, 3);
    AppendEntry(&bytes, "a.txt", 3, 'a');
    AppendEntry(&bytes, "empty", 0, 0);
    AppendEntry(&bytes, std::string(MAX_NAME_LENGTH, 'n'), 4, 'z');
    uint32_t end = 0;
    std::vector<std::string> names = WalkArchive(bytes, &end);
    ASSERT_EQ(3u, names.size());
    EXPECT_EQ("a.txt", names[0]);
    EXPECT_EQ("empty", names[1]);
    EXPECT_EQ(std::string(MAX_NAME_LENGTH, 'n'), names[2]);
    EXPECT_EQ(bytes.size(), end);

    uint32_t offset = ARCHIVE_HEADER_SIZE;
    ArchiveEntry entry;
    ASSERT_TRUE(NextArchiveEntry(bytes.data(), (uint32_t)bytes.size(), &offset, &entry));
    EXPECT_EQ(3u, entry.size);
    EXPECT_EQ(std::string("aaa"), std::string((const char*)entry.bytes, entry.size));
    EXPECT_EQ(ARCHIVE_HEADER_SIZE + ENTRY_HEADER_SIZE + 3, offset);
}

TEST(ArchiveReader, RefusesHeadersAndEntriesThatDoNotFit)
{
    uint32_t total, count;
    Bytes shortHeader = Archive(0, 0);
    shortHeader.pop_back();
    EXPECT_FALSE(ReadArchiveHeader(shortHeader.data(), (uint32_t)shortHeader.size(), &total, &count));
    EXPECT_FALSE(ReadArchiveHeader(0, 8, &total, &count));

    // A count that promises more entries than the bytes hold.
    Bytes overrun = Archive(3, 1000000);
    AppendEntry(&overrun, "only.txt", 3, 'x');
    EXPECT_EQ(1u, WalkArchive(overrun).size());

    // An entry header cut short, at every length from nothing to 263 bytes.
    Bytes full = Archive(0, 1);
    AppendEntry(&full, "cut", 0, 0);
    for (size_t keep = ARCHIVE_HEADER_SIZE; keep < full.size(); ++keep) {
        Bytes cut(full.begin(), full.begin() + keep);
        uint32_t offset = ARCHIVE_HEADER_SIZE;
        ArchiveEntry entry;
        EXPECT_FALSE(NextArchiveEntry(cut.data(), (uint32_t)cut.size(), &offset, &entry)) << keep;
        EXPECT_EQ(ARCHIVE_HEADER_SIZE, offset);
    }

    // Data one byte shorter than the entry's size.
    Bytes truncated = Archive(10, 1);
    AppendEntry(&truncated, "short.bin", 10, 's');
    truncated.pop_back();
    EXPECT_TRUE(WalkArchive(truncated).empty());
}

TEST(ArchiveReader, RefusesNamesWithoutNulAndSizesThatWrap)
{
    Bytes noNul = Archive(1, 1);
    AppendEntry(&noNul, "x", 1, 'x');
    std::fill(noNul.begin() + ARCHIVE_HEADER_SIZE,
              noNul.begin() + ARCHIVE_HEADER_SIZE + ENTRY_NAME_SIZE, 'N');
    EXPECT_TRUE(WalkArchive(noNul).empty());

    // Sizes chosen so that the next entry's offset wraps around 32 bits to
    // 0, or back to the first entry, which a naive walk would loop on.
    const uint32_t firstData = ARCHIVE_HEADER_SIZE + ENTRY_HEADER_SIZE;
    for (uint32_t size : {0u - firstData, 0u - firstData + ARCHIVE_HEADER_SIZE, 0xFFFFFFFFu,
                          0x80000000u}) {
        Bytes wrap = Archive(size, 2);
        AppendEntry(&wrap, "wrap.bin", 0, 0);
        WriteUint32(wrap.data() + ARCHIVE_HEADER_SIZE + ENTRY_NAME_SIZE, size);
        AppendEntry(&wrap, "next.bin", 4, 'n');
        EXPECT_TRUE(WalkArchive(wrap).empty()) << size;
    }

    // Offsets at and beyond the end, including one near 2^32.
    Bytes one = Archive(0, 1);
    AppendEntry(&one, "e", 0, 0);
    ArchiveEntry entry;
    for (uint32_t start : {(uint32_t)one.size(), (uint32_t)one.size() + 1, 0xFFFFFFF0u}) {
        uint32_t offset = start;
        EXPECT_FALSE(NextArchiveEntry(one.data(), (uint32_t)one.size(), &offset, &entry));
        EXPECT_EQ(start, offset);
    }
}

TEST(LinkReader, ReadsPairsAndStopsAtUnterminatedStrings)
{
    Bytes links;
    AppendNumber(&links, 3);
    AppendText(&links, "murmlist.exe");
    AppendText(&links, "Murmelist");
    AppendText(&links, "");
    AppendText(&links, "");
    AppendText(&links, "uninst.exe");
    AppendText(&links, "\xD3\xE4\xE0\xEB\xE8\xF2\xFC Murmelist", false);

    uint32_t count = 0;
    ASSERT_TRUE(ReadLinkCount(links.data(), (uint32_t)links.size(), &count));
    EXPECT_EQ(3u, count);
    uint32_t offset = 4;
    const char* target;
    const char* name;
    ASSERT_TRUE(NextGroupLink(links.data(), (uint32_t)links.size(), &offset, &target, &name));
    EXPECT_STREQ("murmlist.exe", target);
    EXPECT_STREQ("Murmelist", name);
    ASSERT_TRUE(NextGroupLink(links.data(), (uint32_t)links.size(), &offset, &target, &name));
    EXPECT_STREQ("", target);
    EXPECT_STREQ("", name);
    // The third pair's name has no NUL: the pair is refused as a whole.
    uint32_t before = offset;
    EXPECT_FALSE(NextGroupLink(links.data(), (uint32_t)links.size(), &offset, &target, &name));
    EXPECT_EQ(before, offset);

    // A target with nothing behind it, and a target without its NUL.
    Bytes lone;
    AppendNumber(&lone, 1);
    AppendText(&lone, "target.exe");
    offset = 4;
    EXPECT_FALSE(NextGroupLink(lone.data(), (uint32_t)lone.size(), &offset, &target, &name));
    lone.pop_back();
    EXPECT_FALSE(NextGroupLink(lone.data(), (uint32_t)lone.size(), &offset, &target, &name));
    EXPECT_EQ(4u, offset);

    Bytes tiny(3, 0);
    EXPECT_FALSE(ReadLinkCount(tiny.data(), (uint32_t)tiny.size(), &count));
}

TEST(StringReader, SetupStringsTurnEmptyFromTheFirstDamagedOne)
{
    const char* strings[SETUP_STRING_COUNT];
    Bytes intact;
    for (const char* text : {"murmlist.exe", "Murmelist", "murmlist.exe", "Murmelist",
                             "murmlist.exe", "uninst.exe"})
        AppendText(&intact, text);
    AppendText(&intact, "ignored trailing bytes", false);
    EXPECT_EQ(6, ReadSetupStrings(intact.data(), (uint32_t)intact.size(), strings));
    EXPECT_STREQ("murmlist.exe", strings[0]);
    EXPECT_STREQ("uninst.exe", strings[5]);

    // The fifth string loses its NUL: it and the sixth read as "".
    Bytes damaged;
    for (const char* text : {"a", "b", "c", "d"})
        AppendText(&damaged, text);
    AppendText(&damaged, "unterminated", false);
    EXPECT_EQ(4, ReadSetupStrings(damaged.data(), (uint32_t)damaged.size(), strings));
    EXPECT_STREQ("d", strings[3]);
    EXPECT_STREQ("", strings[4]);
    EXPECT_STREQ("", strings[5]);
    // A failed read leaves the offset where it failed, so every read after
    // it fails too: the setup reads its strings one after another that way.
    uint32_t at = 0;
    for (int i = 0; i < 4; ++i)
        ASSERT_NE(nullptr, NextString(damaged.data(), (uint32_t)damaged.size(), &at));
    const uint32_t failedAt = at;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(nullptr, NextString(damaged.data(), (uint32_t)damaged.size(), &at));
        EXPECT_EQ(failedAt, at);
    }

    EXPECT_EQ(0, ReadSetupStrings(0, 0, strings));
    for (const char* text : strings)
        EXPECT_STREQ("", text);

    Bytes name;
    AppendText(&name, "Murmelist");
    EXPECT_STREQ("Murmelist", ReadDisplayName(name.data(), (uint32_t)name.size()));
    name.pop_back();
    EXPECT_STREQ("", ReadDisplayName(name.data(), (uint32_t)name.size()));
    EXPECT_STREQ("", ReadDisplayName(name.data(), 0));

    uint32_t offset = (uint32_t)intact.size();
    EXPECT_EQ(nullptr, NextString(intact.data(), (uint32_t)intact.size(), &offset));
    EXPECT_EQ(intact.size(), offset);
}

TEST(ProgressShare, ExactAtThe32BitLimits)
{
    EXPECT_EQ(7u, AddProgressShare(7, 12345, 0));
    EXPECT_EQ(100u, AddProgressShare(0, 0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_EQ(99u, AddProgressShare(0, 0xFFFFFFFEu, 0xFFFFFFFFu));
    EXPECT_EQ(0u, AddProgressShare(0, 42949672u, 0xFFFFFFFFu));
    EXPECT_EQ(1u, AddProgressShare(0, 42949673u, 0xFFFFFFFFu));
    // 100 * size passes 2^32 here; a 32-bit product would give 7, not 50.
    EXPECT_EQ(60u, AddProgressShare(10, 50000000u, 100000000u));

    // The sample package's sizes: 65 + 24 + 0 + 0 + 9.
    const uint32_t sizes[] = {44544, 16513, 223, 48, 6656};
    uint32_t progress = 0;
    for (uint32_t size : sizes)
        progress = AddProgressShare(progress, size, 67984);
    EXPECT_EQ(98u, progress);

    // An entry larger than the archive's total, as only a damaged archive
    // holds: the result saturates instead of wrapping below progress.
    EXPECT_EQ(0xFFFFFFFFu, AddProgressShare(5, 0xFFFFFFFFu, 1));
    EXPECT_EQ(0xFFFFFFFFu, AddProgressShare(0xFFFFFFFFu, 1, 1));
}

// The setup computes the share without a 64-bit division; it must agree
// with the plain formula everywhere, near the limits and at random.
TEST(ProgressShare, AgreesWithTheWideFormula)
{
    auto wide = [](uint32_t progress, uint32_t size, uint32_t total) {
        uint64_t sum = progress + (uint64_t)size * 100u / total;
        return sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)sum;
    };
    const uint32_t edges[] = {1, 2, 3, 99, 100, 101, 42949672u, 42949673u, 0x7FFFFFFFu,
                              0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    for (uint32_t size : edges)
        for (uint32_t total : edges)
            for (uint32_t progress : {0u, 98u, 0xFFFFFF00u})
                ASSERT_EQ(wide(progress, size, total), AddProgressShare(progress, size, total))
                    << progress << " " << size << " " << total;
    uint64_t state = 1;
    auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return (uint32_t)(state >> 32);
    };
    for (int i = 0; i < 1000000; ++i) {
        uint32_t total = next() >> (next() % 32);
        uint32_t size = total ? next() % total : next();
        if (total == 0)
            continue;
        ASSERT_EQ(wide(0, size, total), AddProgressShare(0, size, total)) << size << " " << total;
    }
}

}  // namespace
