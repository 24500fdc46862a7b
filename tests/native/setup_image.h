// The Windows builds whose setup.exe the host checks, read from their files
// with the portable PE reader: the shipped 32-bit build and its 64-bit twin.
#ifndef MURM_TESTS_SETUP_IMAGE_H
#define MURM_TESTS_SETUP_IMAGE_H

#include "tools/pe/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

struct Build {
    const char* name;  // in test names
    std::string dir;   // the build tree
    const char* make;  // the command that builds it
    uint16_t machine;
    uint16_t magic;
    uint32_t relocation;  // the type every address fixup has
    bool machineFlag32;   // IMAGE_FILE_32BIT_MACHINE
};

inline std::vector<Build> Builds()
{
    return {
        {"Shipped", SHIPPED_BUILD, "make target", PE_MACHINE_I386, PE_MAGIC_PE32,
         PE_RELOCATION_HIGHLOW, true},
        {"Twin", TWIN_BUILD, "make twin", PE_MACHINE_AMD64, PE_MAGIC_PE32_PLUS,
         PE_RELOCATION_DIR64, false},
    };
}

inline void PrintTo(const Build& build, std::ostream* out)
{
    *out << build.name;
}

inline std::string BuildName(const ::testing::TestParamInfo<Build>& info)
{
    return info.param.name;
}

inline bool ReadFileBytes(const std::string& path, Bytes* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct Image {
    Bytes bytes;
    PeHeaders headers;

    const unsigned char* data() const { return bytes.data(); }
    uint32_t size() const { return (uint32_t)bytes.size(); }
};

// A missing file names the command that builds it.
inline ::testing::AssertionResult LoadImage(const std::string& path, const char* make,
                                            Image* image)
{
    if (!ReadFileBytes(path, &image->bytes))
        return ::testing::AssertionFailure() << path << " is missing: build it with " << make;
    if (!ReadPeHeaders(image->data(), image->size(), &image->headers))
        return ::testing::AssertionFailure() << path << " is no PE image";
    return ::testing::AssertionSuccess();
}

// Each test reads its build's setup.exe afresh.
class SetupImage : public ::testing::TestWithParam<Build> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LoadImage(GetParam().dir + "/setup.exe", GetParam().make, &image_));
    }

    // The bytes of one resource; empty when the image has none such.
    std::string Resource(uint32_t type, uint32_t id, uint32_t language = PE_ANY_LANGUAGE) const
    {
        uint32_t offset, size;
        if (!FindPeResource(image_.data(), image_.size(), &image_.headers, type, id, language,
                            &offset, &size))
            return std::string();
        return std::string(image_.bytes.begin() + offset, image_.bytes.begin() + offset + size);
    }

    Image image_;
};

// Static imports are resolved before any of a program's code runs, so each
// must be a DLL that Windows always takes from the system folder (a known
// DLL), whatever lies beside the program; and a delay-loaded DLL would be
// searched for like any LoadLibrary call.
inline void ExpectImportsOnlySystemDlls(const Image& image)
{
    std::set<std::string> names;
    ASSERT_TRUE(WalkPeImports(
        image.data(), image.size(), &image.headers,
        [](const char* dll, void* context) {
            std::string name = dll;
            for (char& c : name)
                c = (char)std::toupper((unsigned char)c);
            ((std::set<std::string>*)context)->insert(name);
            return true;
        },
        &names));
    const std::set<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL",
                                           "OLE32.DLL",    "ADVAPI32.DLL", "GDI32.DLL"};
    for (const std::string& name : names)
        EXPECT_TRUE(allowed.count(name)) << "imports " << name;
    EXPECT_TRUE(names.count("KERNEL32.DLL") && names.count("USER32.DLL")) << "import table not read";
    EXPECT_EQ(image.headers.directories[PE_DIRECTORY_DELAY_IMPORT].size, 0u);
}

#endif
