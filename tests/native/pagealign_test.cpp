// The resource-section aligner against hand-made PE images: the section
// lands on a page boundary of the file, every section keeps its bytes and
// its address, the file keeps no gap, the checksum comes out true whether
// it padded or not, and images it must not touch are left as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

typedef std::vector<uint8_t> Bytes;

const uint32_t PE_AT = 0x40;
const uint32_t OPTIONAL_AT = PE_AT + 4 + 20;
const uint32_t CHECKSUM_AT = OPTIONAL_AT + 64;

struct SectionLayout {
    const char* name;
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
};

void Put16(Bytes& b, uint32_t at, uint32_t v)
{
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

void Put32(Bytes& b, uint32_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (uint8_t)(v >> (8 * i));
}

uint32_t Get32(const Bytes& b, uint32_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}

// The section table follows the optional header, whose size the file
// header gives: 224 bytes in a PE32 image, 240 in a PE32+ one.
uint32_t TableAt(const Bytes& b)
{
    return OPTIONAL_AT + (b[PE_AT + 20] | (b[PE_AT + 21] << 8));
}

// A PE32 (or with plus a PE32+) image as MinGW's linker lays it out:
// 512-byte file alignment, page section alignment, sections back to back in
// the file. Section i's bytes are all 0x11 * (i + 1); the last section
// named ".rsrc" holds the resource directory. overlay is appended behind
// the sections.
Bytes MakeImage(const std::vector<SectionLayout>& sections, uint32_t sizeOfHeaders,
                bool signedImage = false, const std::string& overlay = "", bool plus = false)
{
    Bytes b(sizeOfHeaders, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, PE_AT);
    std::memcpy(&b[PE_AT], "PE\0\0", 4);
    Put16(b, PE_AT + 4, plus ? 0x8664 : 0x14C);
    Put16(b, PE_AT + 6, (uint32_t)sections.size());
    Put16(b, PE_AT + 20, plus ? 240 : 224);
    Put16(b, OPTIONAL_AT, plus ? 0x20B : 0x10B);
    Put32(b, OPTIONAL_AT + 32, 0x1000);
    Put32(b, OPTIONAL_AT + 36, 0x200);
    Put32(b, OPTIONAL_AT + 60, sizeOfHeaders);
    // PE32+ has 64-bit stack and heap sizes: its directories lie 16 further.
    const uint32_t directories = OPTIONAL_AT + (plus ? 112 : 96);
    Put32(b, directories - 4, 16);
    uint32_t raw = sizeOfHeaders;
    for (size_t i = 0; i < sections.size(); ++i) {
        const SectionLayout& s = sections[i];
        uint32_t at = TableAt(b) + 40 * (uint32_t)i;
        std::memcpy(&b[at], s.name, std::strlen(s.name));
        Put32(b, at + 8, s.virtualSize);
        Put32(b, at + 12, s.virtualAddress);
        Put32(b, at + 16, s.rawSize);
        Put32(b, at + 20, raw);
        Put32(b, at + 36, 0x40000040);
        if (std::string(s.name) == ".rsrc") {
            Put32(b, directories + 8 * 2, s.virtualAddress);
            Put32(b, directories + 8 * 2 + 4, s.virtualSize);
        }
        b.resize(b.size() + s.rawSize, (uint8_t)(0x11 * (i + 1)));
        raw += s.rawSize;
    }
    if (signedImage) {
        Put32(b, directories + 8 * 4, raw);
        Put32(b, directories + 8 * 4 + 4, 8);
    }
    b.insert(b.end(), overlay.begin(), overlay.end());
    return b;
}

struct Section {
    uint32_t virtualAddress, virtualSize, rawSize, rawPointer;
};

Section Read(const Bytes& b, int i)
{
    uint32_t at = TableAt(b) + 40 * i;
    return {Get32(b, at + 12), Get32(b, at + 8), Get32(b, at + 16), Get32(b, at + 20)};
}

class PageAlign : public ::testing::Test {
protected:
    std::string path_;

    void SetUp() override
    {
        char name[] = "/tmp/pagealign-XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = name;
    }
    void TearDown() override { std::remove(path_.c_str()); }

    // Runs the tool on image; returns its exit code and the file after it.
    int Run(const Bytes& image, Bytes* after)
    {
        std::ofstream(path_, std::ios::binary)
            .write((const char*)image.data(), (std::streamsize)image.size());
        int status = std::system((std::string(PAGEALIGN) + " " + path_ + " 2>/dev/null").c_str());
        std::ifstream in(path_, std::ios::binary);
        after->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// The PE checksum, worked out here on its own: the 16-bit one's-complement
// sum of the file with the checksum field taken as zero and an odd last
// byte as a word of its own, plus the length.
uint32_t TrueChecksum(const Bytes& b)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 2) {
        if (i == CHECKSUM_AT || i == CHECKSUM_AT + 2)
            continue;
        sum += b[i] | (i + 1 < b.size() ? b[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + (uint32_t)b.size();
}

// What must hold of every image the tool rewrote: the resource section on a
// page boundary, addresses unchanged, each section's bytes intact and the
// file without a gap, padding zero, the checksum true.
void ExpectAligned(const Bytes& before, const Bytes& after, int count, int resource)
{
    EXPECT_EQ(Read(after, resource).rawPointer % 4096, 0u);
    EXPECT_EQ(Get32(after, CHECKSUM_AT), TrueChecksum(after));
    uint32_t end = Get32(after, OPTIONAL_AT + 60);
    for (int i = 0; i < count; ++i) {
        Section old = Read(before, i), now = Read(after, i);
        EXPECT_EQ(now.virtualAddress, old.virtualAddress) << "section " << i;
        EXPECT_EQ(now.virtualSize, old.virtualSize) << "section " << i;
        EXPECT_EQ(now.rawPointer, end) << "a gap before section " << i;
        ASSERT_GE(now.rawSize, old.rawSize);
        EXPECT_LE(now.rawSize, (old.virtualSize + 4095) / 4096 * 4096) << "section " << i;
        ASSERT_LE(now.rawPointer + now.rawSize, after.size());
        EXPECT_TRUE(std::equal(before.begin() + old.rawPointer,
                               before.begin() + old.rawPointer + old.rawSize,
                               after.begin() + now.rawPointer))
            << "section " << i << " lost its bytes";
        for (uint32_t k = now.rawPointer + old.rawSize; k < now.rawPointer + now.rawSize; ++k)
            ASSERT_EQ(after[k], 0) << "padding of section " << i;
        end = now.rawPointer + now.rawSize;
    }
}

TEST_F(PageAlign, MovesTheResourceSectionToAPageBoundary)
{
    // .idata, right before .rsrc, fills its page; .text has room behind
    // its data. .reloc follows .rsrc and must move along.
    Bytes image = MakeImage({{".text", 0x1000, 0x2780, 0x2800},
                             {".idata", 0x4000, 0xE80, 0x1000},
                             {".rsrc", 0x5000, 0x5100, 0x5200},
                             {".reloc", 0xB000, 0x100, 0x200}},
                            0x400, false, "OVERLAY");
    Bytes after;
    ASSERT_EQ(Run(image, &after), 0);
    ExpectAligned(image, after, 4, 2);
    EXPECT_EQ(Get32(after, OPTIONAL_AT + 60), 0x400u) << "the sections had room enough";
    EXPECT_EQ(std::string(after.end() - 7, after.end()), "OVERLAY");
    EXPECT_EQ(after.size() % 512, image.size() % 512);
}

TEST_F(PageAlign, PadsTheHeadersWhenNoSectionHasRoom)
{
    // .text fills its page to the end, so only the headers can grow.
    Bytes image = MakeImage({{".text", 0x1000, 0x1000, 0x1000}, {".rsrc", 0x2000, 0x300, 0x400}},
                            0x400);
    Bytes after;
    ASSERT_EQ(Run(image, &after), 0);
    ExpectAligned(image, after, 2, 1);
    EXPECT_EQ(Get32(after, OPTIONAL_AT + 60), 0x1000u);
}

TEST_F(PageAlign, MovesThe64BitTwinsResourceSectionAlike)
{
    Bytes image = MakeImage({{".text", 0x1000, 0x2780, 0x2800},
                             {".rsrc", 0x4000, 0x300, 0x400},
                             {".reloc", 0x5000, 0x30, 0x200}},
                            0x400, false, "", true);
    Bytes after;
    ASSERT_EQ(Run(image, &after), 0);
    ExpectAligned(image, after, 3, 1);
}

// The image as the linker writes it: a 64-byte DOS program between the DOS
// header and the PE headers, which keep their room of sizeOfHeaders.
Bytes WithDosProgram(Bytes image)
{
    image.insert(image.begin() + PE_AT, 0x40, 0xCC);
    image.erase(image.begin() + Get32(image, OPTIONAL_AT + 0x40 + 60),
                image.begin() + Get32(image, OPTIONAL_AT + 0x40 + 60) + 0x40);
    Put32(image, 0x3C, PE_AT + 0x40);
    return image;
}

// When leaving the DOS program out lets the headers take one 512-byte block
// instead of two, and that brings the resources onto an earlier page, the
// tool packs the headers first; otherwise it leaves them be.
TEST_F(PageAlign, PacksTheHeadersOnlyWhenThatSavesAPage)
{
    Bytes packed = MakeImage({{".text", 0x1000, 0x2D00, 0x2E00},
                              {".rsrc", 0x4000, 0x300, 0x400},
                              {".reloc", 0x5000, 0x30, 0x200}},
                             0x400);
    Bytes image = WithDosProgram(packed), after;
    ASSERT_EQ(Run(image, &after), 0);
    EXPECT_EQ(Get32(after, 0x3C), PE_AT);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x3C, after.begin())) << "DOS header";
    EXPECT_EQ(Get32(after, OPTIONAL_AT + 60), 0x200u);
    EXPECT_EQ(Read(after, 1).rawPointer, 0x3000u) << "the resources did not move up a page";
    EXPECT_EQ(after.size(), image.size() - 0x200);
    ExpectAligned(packed, after, 3, 1);

    Bytes roomy = WithDosProgram(MakeImage({{".text", 0x1000, 0x2000, 0x2000},
                                            {".rsrc", 0x3000, 0x300, 0x400}},
                                           0x400));
    ASSERT_EQ(Run(roomy, &after), 0);
    EXPECT_EQ(Get32(after, 0x3C), PE_AT + 0x40) << "packed although no page was gained";
    EXPECT_EQ(Get32(after, OPTIONAL_AT + 0x40 + 60), 0x1000u);
}

// The relocations, last in the file, go behind the read-only section before
// them and no longer take a section and a 512-byte block of their own; the
// directory follows them, and the image ends where that section does.
TEST_F(PageAlign, FoldsTheRelocationsIntoTheSectionBeforeThem)
{
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        Bytes image = MakeImage({{".text", 0x1000, 0x2780, 0x2800},
                                 {".rsrc", 0x4000, 0x300, 0x400},
                                 {".late", 0x5000, 0x1BE, 0x200},
                                 {".reloc", 0x6000, 0x30, 0x200}},
                                0x400, false, "", plus);
        const uint32_t directory = OPTIONAL_AT + (plus ? 112 : 96) + 8 * 5;
        Put32(image, directory, 0x6000);
        Put32(image, directory + 4, 0x30);
        Bytes after;
        ASSERT_EQ(Run(image, &after), 0);
        ExpectAligned(image, after, 2, 1);
        EXPECT_EQ(after[PE_AT + 6], 3) << "the relocations' section is still there";
        Section late = Read(after, 2);
        EXPECT_EQ(late.virtualSize, 0x1C0u + 0x30u);
        EXPECT_EQ(late.rawSize, 0x200u);
        EXPECT_EQ(Get32(after, directory), 0x5000u + 0x1C0u) << "4-aligned behind .late";
        EXPECT_EQ(Get32(after, directory + 4), 0x30u);
        EXPECT_TRUE(std::equal(after.begin() + late.rawPointer + 0x1C0,
                               after.begin() + late.rawPointer + 0x1F0,
                               image.begin() + Read(image, 3).rawPointer));
        EXPECT_EQ(after.size(), late.rawPointer + 0x200u) << "the file ends with .late";
        EXPECT_EQ(Get32(after, OPTIONAL_AT + 56), 0x6000u) << "SizeOfImage";

        // Not into a section that can be written: the loader would leave
        // the relocations there open to the program.
        Put32(image, TableAt(image) + 40 * 2 + 36, 0xC0000040);
        ASSERT_EQ(Run(image, &after), 0);
        EXPECT_EQ(after[PE_AT + 6], 4);
        EXPECT_EQ(Get32(after, directory), 0x6000u);
    }
}

TEST_F(PageAlign, SetsTheTrueChecksumAlsoWhenNothingNeedsPadding)
{
    Bytes aligned = MakeImage({{".text", 0x1000, 0xA00, 0xC00}, {".rsrc", 0x2000, 0x300, 0x400}},
                              0x400);
    Bytes after;
    for (uint32_t linkers : {0u, 1u}) {
        SCOPED_TRACE(linkers ? "a stale checksum" : "no checksum");
        Put32(aligned, CHECKSUM_AT, linkers);
        ASSERT_EQ(Run(aligned, &after), 0);
        ASSERT_EQ(after.size(), aligned.size());
        EXPECT_NE(Get32(after, CHECKSUM_AT), 0u);
        EXPECT_EQ(Get32(after, CHECKSUM_AT), TrueChecksum(after));
        Put32(after, CHECKSUM_AT, linkers);
        EXPECT_EQ(after, aligned) << "more changed than the checksum";
    }

    // A second run finds nothing to do.
    ASSERT_EQ(Run(aligned, &after), 0);
    Bytes again;
    ASSERT_EQ(Run(after, &again), 0);
    EXPECT_EQ(again, after);
}

TEST_F(PageAlign, LeavesUntouchableImagesAlone)
{
    Bytes after;
    Bytes misaligned = MakeImage({{".text", 0x1000, 0x200, 0x200}, {".rsrc", 0x2000, 0x300, 0x400}},
                                 0x400);
    Bytes signedImage = MakeImage({{".text", 0x1000, 0x200, 0x200}, {".rsrc", 0x2000, 0x300, 0x400}},
                                  0x400, true, "SIGNATURE");
    EXPECT_EQ(Run(signedImage, &after), 1) << "moving data would break the signature";
    EXPECT_EQ(after, signedImage);

    Bytes symbols = misaligned;
    Put32(symbols, PE_AT + 4 + 8, 0x600);
    EXPECT_EQ(Run(symbols, &after), 1) << "a symbol table holds file offsets";
    EXPECT_EQ(after, symbols);

    Bytes truncated(misaligned.begin(), misaligned.begin() + 0x500);
    EXPECT_EQ(Run(truncated, &after), 1) << "section data outside the file";
    EXPECT_EQ(after, truncated);

    Bytes text(misaligned.size(), 'x');
    EXPECT_EQ(Run(text, &after), 1);
    EXPECT_EQ(after, text);
}

}  // namespace
