// The uninstaller of each Windows build, as the package carries it, read
// from its file on the host. It deletes with administrator rights from a
// copy of itself in the temporary folder, so it must load nothing from
// beside itself, and must ask Windows for those rights itself.
#include "setup_image.h"

namespace {

class UninstallerImage : public ::testing::TestWithParam<Build> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LoadImage(GetParam().dir + "/package/uninst.exe", GetParam().make, &image_));
    }
    Image image_;
};

TEST_P(UninstallerImage, ImportsOnlySystemDlls)
{
    ExpectImportsOnlySystemDlls(image_);
}

// Without a manifest Windows raises a program only when its file's name
// looks like a setup's; Wine ignores the request, so only the file shows it.
TEST_P(UninstallerImage, AsksForAdministratorRightsInItsManifest)
{
    const uint32_t RT_MANIFEST = 24, PROCESS_MANIFEST = 1;
    uint32_t offset = 0, size = 0;
    ASSERT_TRUE(FindPeResource(image_.data(), image_.size(), &image_.headers, RT_MANIFEST, PROCESS_MANIFEST,
                               PE_ANY_LANGUAGE, &offset, &size))
        << "no manifest";
    const std::string manifest(image_.bytes.begin() + offset, image_.bytes.begin() + offset + size);
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("urn:schemas-microsoft-com:asm.v3"), std::string::npos) << manifest;
    const PeHeaders& h = image_.headers;
    EXPECT_TRUE(h.dllCharacteristics & PE_DLL_NX_COMPAT) << "no DEP";
    EXPECT_TRUE(h.dllCharacteristics & PE_DLL_DYNAMIC_BASE) << "no ASLR";
}

INSTANTIATE_TEST_SUITE_P(Builds, UninstallerImage, ::testing::ValuesIn(Builds()), BuildName);

}  // namespace
