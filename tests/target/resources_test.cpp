// What only Windows itself can show of the linked setup.exe (the host reads
// the rest from the file): that the system finds the package data by id the
// way the setup asks for it, and takes the icon for an icon.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "resources/ids.h"

namespace {

// The build hands us Linux paths; Wine sees the Linux root as drive Z:.
std::string WinePath(const std::string& path)
{
    std::string result = "Z:" + path;
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

std::string ReadWholeFile(const std::string& linuxPath)
{
    std::ifstream in(WinePath(linuxPath), std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot open " << linuxPath;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SetupExe : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        module_ = LoadLibraryExA(WinePath(SETUP_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite()
    {
        if (module_)
            FreeLibrary(module_);
        module_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "cannot load " << SETUP_EXE; }

    // Found by id and type alone, in whatever language the system picks.
    static std::string Resource(int id, LPCSTR type)
    {
        HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
        if (!found)
            return std::string();
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module_, found)));
        return bytes ? std::string(bytes, SizeofResource(module_, found)) : std::string();
    }

    static HMODULE module_;
};

HMODULE SetupExe::module_ = nullptr;

TEST_F(SetupExe, SystemFindsThePackageDataById)
{
    const struct {
        int id;
        std::string file;
    } files[] = {
        {IDR_AGREEMENT, std::string(SOURCE_DIR) + "/resources/agreement.txt"},
        {IDR_PAYLOAD, std::string(BUILD_DIR) + "/package-data/payload.bin"},
        {IDR_GROUP_LINKS, std::string(BUILD_DIR) + "/package-data/links.bin"},
        {IDR_SETUP_STRINGS, std::string(BUILD_DIR) + "/package-data/strings.bin"},
        {IDR_DISPLAY_NAME, std::string(BUILD_DIR) + "/package-data/name.bin"},
    };
    for (const auto& entry : files) {
        SCOPED_TRACE(entry.file);
        const std::string actual = Resource(entry.id, RT_RCDATA);
        ASSERT_FALSE(actual.empty()) << "not found";
        EXPECT_TRUE(actual == ReadWholeFile(entry.file)) << "another resource's data";
    }
}

// The system picks image 1 for 32 x 32 from the group and makes an icon of it.
TEST_F(SetupExe, SystemTakesTheIcon)
{
    std::string group = Resource(IDI_PROGRAM, RT_GROUP_ICON);
    ASSERT_FALSE(group.empty());
    const int id = LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(&group[0]), TRUE, 32, 32,
                                               LR_DEFAULTCOLOR);
    ASSERT_EQ(id, 1);
    std::string image = Resource(id, RT_ICON);
    ASSERT_FALSE(image.empty());
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(&image[0]),
                                          static_cast<DWORD>(image.size()), TRUE, 0x00030000, 32,
                                          32, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr);
    if (icon)
        DestroyIcon(icon);
}

}  // namespace
