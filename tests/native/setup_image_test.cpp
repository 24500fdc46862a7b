// setup.exe of each Windows build, read from its file on the host: how it
// may be loaded, what it imports, that its relocations make sense, that its
// resources start on a page of the file and that every setup-like program
// of the build carries its true checksum.
#include "setup_image.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

namespace {

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

// No run-time library: setup.exe carries its own few helpers. COMCTL32 is
// not a known DLL: the program loads it by full path.
TEST_P(SetupImage, ImportsOnlySystemDlls)
{
    ExpectImportsOnlySystemDlls(image_);
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

INSTANTIATE_TEST_SUITE_P(Builds, SetupImage, ::testing::ValuesIn(Builds()), BuildName);

// The shipped setup's overhead: the file less the payload archive and the
// agreement that it carries. Everything in front of the page-aligned
// resources is paid for in whole pages of the file; this is the budget it
// was brought within, and it may only shrink. (It grew once, by the one
// 512-byte block behind the resources that holds the own-file check's
// vector loop and the folder picker, when the check gained its speed and
// its window; and once by seven blocks there, when the setup learned to
// log each item before making it through a log that survives a crash, to
// refuse device names and drives without room, to take back an
// installation without its uninstaller, and to tell truly how it ended;
// the seven came back once the base relocations went behind the code and
// the code itself shrank, a second setup's care included.)
const uint32_t OVERHEAD_BUDGET = 20480;

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
