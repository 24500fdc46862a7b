// pkgbuild PACKAGE_DIR OUT_DIR
// pkgbuild --check SETUP_EXE [PACKAGE_DIR]
//
// Turns a package folder (payload files plus the description package.txt,
// whose line format is documented at the top of resources/package/
// package.txt) into the setup's four data resources in OUT_DIR:
// payload.bin, links.bin, strings.bin and name.bin.
//
// Everything is checked before anything is written, so a refused package
// leaves OUT_DIR as it was. Each output goes to a temporary file first and
// is renamed over the old one only when all four are complete. The output
// depends on nothing but the input: the same folder always gives the same
// bytes.
//
// With --check it is the publisher's last look at a built setup (PE32 or
// PE32+): it verifies the image checksum the setup checks at start-up,
// lists what the setup carries and, given the package folder, compares
// each data resource with the bytes a build from that folder would write.
// The comparison runs the writer itself, its output compared instead of
// written, so the check cannot drift from the build. Every problem found
// is reported in one final line.
//
// Exit codes: 0 built (or the setup checked and found as it should be),
// 1 package refused, setup damaged or unlike its package, or an I/O error,
// 2 usage.
#include "pkgbuild.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void Fail(const char* format, ...)
{
    // A check's listing goes to stdout: the reason must come out after it.
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::fputs("pkgbuild: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    RemoveTempFiles();
    std::exit(1);
}

int main(int argc, char** argv)
{
    const bool check = argc > 1 && std::strcmp(argv[1], "--check") == 0;
    bool usable = check ? argc == 3 || argc == 4 : argc == 3;
    for (int i = check ? 2 : 1; usable && i < argc; ++i)
        usable = argv[i][0] != 0;
    if (!usable) {
        std::fprintf(stderr,
                     "usage: pkgbuild PACKAGE_DIR OUT_DIR\n"
                     "       pkgbuild --check SETUP_EXE [PACKAGE_DIR]\n"
                     "Reads PACKAGE_DIR/package.txt and the payload files it lists and writes\n"
                     "payload.bin, links.bin, strings.bin and name.bin into OUT_DIR.\n"
                     "With --check, verifies SETUP_EXE's image checksum, lists what it carries\n"
                     "and, given PACKAGE_DIR, compares it with what PACKAGE_DIR builds.\n");
        return 2;
    }
    if (check) {
        const fs::path folder = argc == 4 ? argv[3] : "";
        return CheckSetup(argv[2], argc == 4 ? &folder : nullptr);
    }
    fs::path folder = argv[1];
    fs::path out = argv[2];
    Package package = ReadDescription(folder);
    uint32_t total = CheckPayloadTotal(package, folder);
    WritePackage(package, total, out);
    std::printf("pkgbuild: %zu files (%u bytes), %zu group links -> %s\n",
                package.files.size(), total, package.links.size(), out.c_str());
    return 0;
}
