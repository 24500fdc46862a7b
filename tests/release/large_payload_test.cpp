// A 512 MiB payload installed through the wizard, watched from outside.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "tests/driver/uidriver.h"
#include "tools/bench/bench_run.h"

namespace {

std::wstring Variant(const char* name)
{
    return ui::HostPath(VARIANTS_DIR) + L"\\setup-" + ui::Widen(name) + L".exe";
}

std::wstring Folder(const char* stem)
{
    return L"C:\\" + ui::Widen(stem) + L"-" + std::to_wstring(GetCurrentProcessId());
}

}  // namespace

// 512 MiB in three files (and the two programs' 4 KiB stand-ins, whose
// shares are 0): every byte lands, the bar only ever shows the sums of the
// files' shares (58, 39 and 2 points), the window stays responsive and the
// payload is never copied into private memory.
TEST(LargePayload, InstallsEveryByteWithItsProgress)
{
    std::wstring setup = Variant("large512"), folder = Folder("large512");
    bench::InstallFigures figures;
    std::wstring error;
    ASSERT_TRUE(bench::RunInstall(setup, folder, 300000, bench::WATCH_EVERYTHING, &figures, &error))
        << ui::Narrow(error);
    EXPECT_EQ(figures.files, 5u);
    EXPECT_FALSE(figures.everHung);
    EXPECT_TRUE(bench::CheckInstalled(setup, folder, true, &error)) << ui::Narrow(error);
    const int valid[] = {0, 58, 97, 99};
    int previous = 0;
    for (int position : figures.progress) {
        EXPECT_NE(std::find(std::begin(valid), std::end(valid), position), std::end(valid))
            << "the bar showed " << position;
        EXPECT_GE(position, previous);
        previous = position;
    }
    // The whole setup needs about 8 MiB; a payload read into private
    // memory would add its 512.
    const uint64_t MiB = 1024 * 1024;
    EXPECT_LT(figures.peakPrivate, 64 * MiB)
        << "private memory peaked at " << figures.peakPrivate / 1024 << " KiB";
    bench::RemoveFolder(folder);
}
