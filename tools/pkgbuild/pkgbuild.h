// What the package builder's parts share: the package as read from its
// folder, the limits it is held to, the sink the writer fills (a resource
// file or a comparison with a built setup's bytes) and the one way out on
// a refusal.
#ifndef MURM_TOOLS_PKGBUILD_H
#define MURM_TOOLS_PKGBUILD_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Largest payload total the setup is known to install; the builder refuses
// more. The payload is part of the 32-bit setup's image, which must fit in
// one piece below the system DLLs: under Wine an image of 1950 MiB of
// payload loads and installs, one of 2000 MiB no longer starts (marking the
// executable large-address aware does not help: the room lies below 2 GiB).
// The margin covers the entries' headers and the program itself.
const uint64_t MAX_PAYLOAD_TOTAL = 1900ull * 1024 * 1024;
const uint64_t UINT32_LIMIT = 0xFFFFFFFF;
const uint64_t NO_DIFFERENCE = UINT64_MAX;

struct PayloadFile {
    std::string name;      // Windows-1251, as stored in the archive
    fs::path source;       // empty for a generated ("fill") entry
    uint64_t size;
    std::string where;     // "package.txt:LINE" for messages
};

struct GroupLink {
    std::string target;
    std::string name;
};

struct Package {
    std::string displayName;
    std::vector<PayloadFile> files;
    std::vector<GroupLink> links;
    std::vector<std::string> strings;
};

// Where the package's bytes go: into a resource file, or, when a built
// setup is checked, past the bytes it carries, to find where they part.
struct Output {
    fs::path final;
    fs::path temp;
    FILE* file;                     // null when comparing
    const unsigned char* expected;  // the setup's bytes, when comparing
    uint64_t expectedSize;
    uint64_t position;              // bytes produced so far
    uint64_t difference;            // the first byte that differs, if any yet
};

// Prints "pkgbuild: " and the message to stderr, removes the temporary
// outputs and exits with 1.
[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Windows-1251 text.
std::string ToCp1251(const std::string& text, const std::string& where, const std::string& what);
std::string FromCp1251(const char* text);

// Names.
void CheckLength(const std::string& text, const std::string& shown, const std::string& where,
                 const std::string& what);
void CheckFileName(const std::string& name, const std::string& shown, const std::string& where,
                   const std::string& what);

// The package folder.
bool ReadWholeFile(const fs::path& path, std::string* text);
Package ReadDescription(const fs::path& folder);
uint32_t CheckPayloadTotal(const Package& package, const fs::path& folder);

// The writer.
void RemoveTempFiles();
Output CompareWith(const unsigned char* bytes, uint32_t size);
uint64_t FirstDifference(const Output* out);
void WriteEntryHeader(Output* out, const PayloadFile& file);
void CopyEntryBytes(Output* out, const PayloadFile& file);
void WriteLinks(Output* out, const Package& package);
void WriteSetupStrings(Output* out, const Package& package);
void WriteDisplayName(Output* out, const Package& package);
void WritePackage(const Package& package, uint32_t total, const fs::path& folder);

// The check of a built setup; the exit code.
int CheckSetup(const fs::path& path, const fs::path* folder);

#endif
