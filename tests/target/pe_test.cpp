// Reads setup.exe's headers from the file: what it imports, how it may be
// loaded, and that the build left no time stamp in it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::string WinePath(const std::string& path) {
    std::string result = "Z:" + path;
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The image file and bounded reads over it: a header that points outside
// the file fails the test instead of reading beyond it.
class Image {
public:
    bool Load(const std::string& path) {
        std::ifstream in(WinePath(path), std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!Read(0, &dos_) || dos_.e_magic != IMAGE_DOS_SIGNATURE) return false;
        if (!Read(dos_.e_lfanew, &nt_) || nt_.Signature != IMAGE_NT_SIGNATURE) return false;
        const size_t sectionsAt = dos_.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                                  nt_.FileHeader.SizeOfOptionalHeader;
        for (int i = 0; i < nt_.FileHeader.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!Read(sectionsAt + i * sizeof section, &section)) return false;
            sections_.push_back(section);
        }
        return true;
    }

    const IMAGE_FILE_HEADER& file() const { return nt_.FileHeader; }
    const IMAGE_OPTIONAL_HEADER32& optional() const { return nt_.OptionalHeader; }
    const IMAGE_DATA_DIRECTORY& directory(int index) const { return nt_.OptionalHeader.DataDirectory[index]; }

    template <typename T> bool Read(size_t offset, T* value) const {
        if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) return false;
        std::memcpy(value, bytes_.data() + offset, sizeof(T));
        return true;
    }

    // File offset of a relative virtual address, or 0 when no section holds it.
    size_t OffsetOf(DWORD rva) const {
        for (const IMAGE_SECTION_HEADER& s : sections_) {
            const DWORD size = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
            if (rva >= s.VirtualAddress && rva - s.VirtualAddress < size) {
                const size_t offset = s.PointerToRawData + (rva - s.VirtualAddress);
                return offset < bytes_.size() ? offset : 0;
            }
        }
        return 0;
    }

    template <typename T> bool ReadAt(DWORD rva, T* value) const {
        const size_t offset = OffsetOf(rva);
        return offset && Read(offset, value);
    }

    bool ReadName(DWORD rva, std::string* name) const {
        size_t offset = OffsetOf(rva);
        if (!offset) return false;
        name->clear();
        for (; offset < bytes_.size() && name->size() < 256; ++offset) {
            if (bytes_[offset] == 0) return true;
            name->push_back(bytes_[offset]);
        }
        return false;
    }

private:
    std::vector<char> bytes_;
    IMAGE_DOS_HEADER dos_{};
    IMAGE_NT_HEADERS32 nt_{};
    std::vector<IMAGE_SECTION_HEADER> sections_;
};

class SetupImage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(image_.Load(SETUP_EXE)) << "not a PE image: " << SETUP_EXE; }
    Image image_;
};

TEST_F(SetupImage, IsA32BitGuiProgramWithoutTimeStamp) {
    EXPECT_EQ(image_.file().Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_TRUE(image_.file().Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
    EXPECT_TRUE(image_.file().Characteristics & IMAGE_FILE_32BIT_MACHINE);
    EXPECT_FALSE(image_.file().Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(image_.optional().Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(image_.optional().Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    // Two builds of the same sources must give the same bytes.
    EXPECT_EQ(image_.file().TimeDateStamp, 0u);
}

TEST_F(SetupImage, AsksForDepAslrAndTerminalServerAwareness) {
    const WORD flags = image_.optional().DllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << "no DEP";
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << "no ASLR";
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);

    // Dynamic base means nothing if the loader cannot move the image: the
    // relocations must be there, and must make sense.
    EXPECT_FALSE(image_.file().Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
    const IMAGE_DATA_DIRECTORY& relocations = image_.directory(IMAGE_DIRECTORY_ENTRY_BASERELOC);
    ASSERT_GT(relocations.Size, 0u) << "no relocation section";
    int addressFixups = 0;
    for (DWORD at = 0; at < relocations.Size;) {
        IMAGE_BASE_RELOCATION block;
        ASSERT_TRUE(image_.ReadAt(relocations.VirtualAddress + at, &block));
        ASSERT_GE(block.SizeOfBlock, sizeof block) << "block at " << at;
        ASSERT_LE(block.SizeOfBlock, relocations.Size - at) << "block at " << at;
        for (DWORD entry = sizeof block; entry + 2 <= block.SizeOfBlock; entry += 2) {
            WORD fixup;
            ASSERT_TRUE(image_.ReadAt(relocations.VirtualAddress + at + entry, &fixup));
            const int type = fixup >> 12;
            if (type == IMAGE_REL_BASED_ABSOLUTE) continue;  // padding
            EXPECT_EQ(type, IMAGE_REL_BASED_HIGHLOW);
            EXPECT_LT(block.VirtualAddress + (fixup & 0x0FFF), image_.optional().SizeOfImage);
            ++addressFixups;
        }
        at += block.SizeOfBlock;
    }
    EXPECT_GT(addressFixups, 0);
}

// Static imports are resolved before any of our code runs, so each must be a
// DLL that Windows always takes from the system folder. No run-time library:
// setup.exe carries its own few helpers.
TEST_F(SetupImage, ImportsOnlySystemDlls) {
    const std::set<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL",
                                           "OLE32.DLL", "ADVAPI32.DLL", "GDI32.DLL"};
    const IMAGE_DATA_DIRECTORY& imports = image_.directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    ASSERT_GT(imports.Size, 0u);
    std::set<std::string> names;
    for (DWORD at = imports.VirtualAddress;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        ASSERT_TRUE(image_.ReadAt(at, &descriptor));
        if (descriptor.Name == 0) break;
        std::string name;
        ASSERT_TRUE(image_.ReadName(descriptor.Name, &name));
        names.insert(Upper(name));
        ASSERT_LT(names.size(), 32u) << "import table without end";
    }
    for (const std::string& name : names) EXPECT_TRUE(allowed.count(name)) << "imports " << name;
    // COMCTL32 is not a known DLL: the program loads it by full path.
    EXPECT_FALSE(names.count("COMCTL32.DLL"));
    EXPECT_TRUE(names.count("KERNEL32.DLL")) << "import table not read";
    EXPECT_TRUE(names.count("USER32.DLL")) << "import table not read";

    // Delay-loaded DLLs are searched for like any LoadLibrary call.
    EXPECT_EQ(image_.directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT).Size, 0u);
}

TEST_F(SetupImage, HasNoManifest) {
    // Toolchains link a default manifest in on their own; it would change
    // how the system loads common controls and treats the program.
    const IMAGE_DATA_DIRECTORY& resources = image_.directory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
    ASSERT_GT(resources.Size, 0u);
    IMAGE_RESOURCE_DIRECTORY root;
    ASSERT_TRUE(image_.ReadAt(resources.VirtualAddress, &root));
    const int count = root.NumberOfNamedEntries + root.NumberOfIdEntries;
    ASSERT_LT(count, 64);
    for (int i = 0; i < count; ++i) {
        IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
        ASSERT_TRUE(image_.ReadAt(resources.VirtualAddress + sizeof root + i * sizeof entry, &entry));
        if (entry.NameIsString) continue;
        EXPECT_NE(entry.Id, 24) << "RT_MANIFEST";
    }
}

}  // namespace
