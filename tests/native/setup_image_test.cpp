// setup.exe of each Windows build, read from its file on the host: how it
// may be loaded, what it imports, that its relocations make sense, that its
// resources start on a page of the file and that every setup-like program
// of the build carries its true checksum. And the PE reader on damaged
// copies of it: it says no instead of reading outside.
#include "setup_image.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

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

TEST_P(SetupImage, IsAGuiProgramForItsMachineWithoutTimeStamp)
{
    const PeHeaders& h = image_.headers;
    EXPECT_EQ(h.machine, GetParam().machine);
    EXPECT_EQ(h.magic, GetParam().magic);
    EXPECT_EQ((h.characteristics & PE_FILE_32BIT_MACHINE) != 0, GetParam().machineFlag32);
    EXPECT_TRUE(h.characteristics & PE_FILE_EXECUTABLE_IMAGE);
    EXPECT_FALSE(h.characteristics & PE_FILE_DLL);
    EXPECT_EQ(h.subsystem, PE_SUBSYSTEM_WINDOWS_GUI);
    // Two builds of the same sources must give the same bytes.
    EXPECT_EQ(h.timeStamp, 0u);
}

struct Fixups {
    uint32_t expectedType;
    uint32_t sizeOfImage;
    int count;
    std::vector<std::string> faults;
};

bool CheckBlock(uint32_t page, const unsigned char* entries, uint32_t count, void* context)
{
    Fixups* fixups = (Fixups*)context;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t entry = entries[2 * i] | (entries[2 * i + 1] << 8);
        const uint32_t type = entry >> 12, at = page + (entry & 0x0FFF);
        if (type == PE_RELOCATION_ABSOLUTE)
            continue;  // padding
        if (type != fixups->expectedType || at >= fixups->sizeOfImage)
            fixups->faults.push_back("type " + std::to_string(type) + " at " + std::to_string(at));
        ++fixups->count;
    }
    return true;
}

TEST_P(SetupImage, AsksForDepAslrAndTerminalServerAwareness)
{
    const PeHeaders& h = image_.headers;
    EXPECT_TRUE(h.dllCharacteristics & PE_DLL_NX_COMPAT) << "no DEP";
    EXPECT_TRUE(h.dllCharacteristics & PE_DLL_DYNAMIC_BASE) << "no ASLR";
    EXPECT_TRUE(h.dllCharacteristics & PE_DLL_TERMINAL_SERVER_AWARE);

    // Dynamic base means nothing if the loader cannot move the image: the
    // relocations must be there, and must make sense.
    EXPECT_FALSE(h.characteristics & PE_FILE_RELOCS_STRIPPED);
    ASSERT_GT(h.directories[PE_DIRECTORY_BASERELOC].size, 0u) << "no relocation section";
    Fixups fixups = {GetParam().relocation, h.sizeOfImage, 0, {}};
    EXPECT_TRUE(WalkPeRelocations(image_.data(), image_.size(), &h, CheckBlock, &fixups));
    EXPECT_GT(fixups.count, 0);
    EXPECT_TRUE(fixups.faults.empty()) << ::testing::PrintToString(fixups.faults);
}

bool CollectImport(const char* dll, void* context)
{
    std::string name = dll;
    for (char& c : name)
        c = (char)std::toupper((unsigned char)c);
    ((std::set<std::string>*)context)->insert(name);
    return true;
}

// Static imports are resolved before any of our code runs, so each must be a
// DLL that Windows always takes from the system folder. No run-time library:
// setup.exe carries its own few helpers.
TEST_P(SetupImage, ImportsOnlySystemDlls)
{
    std::set<std::string> names;
    ASSERT_TRUE(WalkPeImports(image_.data(), image_.size(), &image_.headers, CollectImport, &names));
    const std::set<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL",
                                           "OLE32.DLL",    "ADVAPI32.DLL", "GDI32.DLL"};
    for (const std::string& name : names)
        EXPECT_TRUE(allowed.count(name)) << "imports " << name;
    // COMCTL32 is not a known DLL: the program loads it by full path.
    EXPECT_FALSE(names.count("COMCTL32.DLL"));
    EXPECT_TRUE(names.count("KERNEL32.DLL") && names.count("USER32.DLL")) << "import table not read";
    // Delay-loaded DLLs are searched for like any LoadLibrary call.
    EXPECT_EQ(image_.headers.directories[PE_DIRECTORY_DELAY_IMPORT].size, 0u);
}

// The post-link step pads the file so that Wine maps the payload instead of
// reading it into private memory.
TEST_P(SetupImage, ResourceSectionStartsOnAPageOfTheFile)
{
    PeSection section;
    ASSERT_TRUE(FindPeSection(image_.data(), image_.size(), &image_.headers,
                              image_.headers.directories[PE_DIRECTORY_RESOURCE].rva, &section));
    EXPECT_EQ(section.rawPointer % 4096, 0u) << section.name << " at 0x" << std::hex
                                             << section.rawPointer;
}

// The checksum of a file read in pieces, as the setup reads its own.
::testing::AssertionResult HasTrueChecksum(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> piece(1 << 20);
    in.read(piece.data(), (std::streamsize)piece.size());
    uint32_t got = (uint32_t)in.gcount(), field;
    const unsigned char* first = (const unsigned char*)piece.data();
    if (!FindChecksumField(first, got, &field))
        return ::testing::AssertionFailure() << path << ": no PE headers";
    const uint32_t stored = first[field] | (first[field + 1] << 8) | (first[field + 2] << 16) |
                            ((uint32_t)first[field + 3] << 24);
    ImageChecksum sum;
    BeginImageChecksum(&sum, field);
    while (got > 0) {
        AddImageChecksum(&sum, (const unsigned char*)piece.data(), got);
        in.read(piece.data(), (std::streamsize)piece.size());
        got = (uint32_t)in.gcount();
    }
    const uint32_t computed = EndImageChecksum(&sum);
    if (stored == 0 || stored != computed)
        return ::testing::AssertionFailure()
               << path << ": stored checksum 0x" << std::hex << stored << ", computed 0x" << computed;
    return ::testing::AssertionSuccess();
}

// Code and constants share one section to keep the file small; nothing
// may be both written and run.
TEST_P(SetupImage, NoSectionIsBothWritableAndExecutable)
{
    PeSection s;
    uint32_t count = 0;
    for (uint32_t i = 0; ReadPeSection(image_.data(), image_.size(), &image_.headers, i, &s); ++i) {
        ++count;
        EXPECT_FALSE((s.characteristics & PE_SECTION_WRITE) && (s.characteristics & PE_SECTION_EXECUTE))
            << s.name;
    }
    EXPECT_EQ(count, image_.headers.sectionCount);
}

// Every program the post-link step rewrites: setup.exe, its variants and
// the benchmark's yardsticks.
TEST_P(SetupImage, EverySetupLikeProgramCarriesItsTrueChecksum)
{
    namespace fs = std::filesystem;
    std::vector<std::string> paths = {GetParam().dir + "/setup.exe"};
    for (const char* folder : {"/variants", "/bench"}) {
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(GetParam().dir + folder, error)) {
            const std::string name = entry.path().filename().string();
            if (entry.path().extension() == ".exe" &&
                (name.rfind("setup-", 0) == 0 || name.rfind("ref_", 0) == 0))
                paths.push_back(entry.path().string());
        }
    }
    for (const std::string& path : paths)
        EXPECT_TRUE(HasTrueChecksum(path));
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
    Fixups fixups = {GetParam().relocation, h.sizeOfImage, 0, {}};
    EXPECT_FALSE(WalkPeRelocations(bad.data(), (uint32_t)bad.size(), &h, CheckBlock, &fixups));
}

INSTANTIATE_TEST_SUITE_P(Builds, SetupImage, ::testing::ValuesIn(Builds()), BuildName);

// The shipped setup's overhead: the file less the payload archive and the
// agreement that it carries. Everything in front of the page-aligned
// resources is paid for in whole pages of the file; this is the budget it
// was brought within, and it may only shrink.
const uint32_t OVERHEAD_BUDGET = 19480;

TEST(ShippedSetup, StaysWithinItsOverheadBudget)
{
    Image image;
    ASSERT_TRUE(LoadImage(std::string(SHIPPED_BUILD) + "/setup.exe", "make target", &image));
    uint32_t offset, archive, agreement;
    ASSERT_TRUE(FindPeResource(image.data(), image.size(), &image.headers, PE_RESOURCE_RCDATA, 114,
                               PE_ANY_LANGUAGE, &offset, &archive));
    ASSERT_TRUE(FindPeResource(image.data(), image.size(), &image.headers, PE_RESOURCE_RCDATA, 110,
                               PE_ANY_LANGUAGE, &offset, &agreement));
    std::string sections;
    PeSection s;
    for (uint32_t i = 0; ReadPeSection(image.data(), image.size(), &image.headers, i, &s); ++i)
        sections += std::string(" ") + s.name + " " + std::to_string(s.rawSize) + " at " +
                    std::to_string(s.rawPointer);
    EXPECT_LE(image.size() - archive - agreement, OVERHEAD_BUDGET)
        << "setup.exe " << image.size() << " bytes, payload archive " << archive << ", agreement "
        << agreement << "; headers " << image.headers.sizeOfHeaders << ";" << sections;
}

}  // namespace
