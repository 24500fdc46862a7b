// The publisher's check of a built setup (--check): its image checksum, a
// listing of what it carries and, given the package folder, a comparison
// of each data resource with what the writer would produce from it.
#include "pkgbuild.h"

#include "core/package.h"
#include "tools/pe/pe_image.h"
#include "resources/ids.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <system_error>

// A setup built from another package would fill the final line entry by
// entry; past this many findings the comparison stops.
const size_t MAX_FINDINGS = 8;
const size_t NOT_FOUND = SIZE_MAX;

// In package.txt's order of the six "string" lines.
static const char* const SETUP_STRING_LABELS[SETUP_STRING_COUNT] = {
    "Startup shortcut target", "Startup shortcut name", "Desktop shortcut target",
    "Desktop shortcut name",   "finish page starts",    "uninstaller",
};

struct SetupEntry {
    ArchiveEntry entry;
    uint32_t start;  // offset of its name field in the archive
};

struct Check {
    std::string path;
    std::string bytes;  // the whole file
    PeHeaders headers;
    std::vector<std::string> findings;  // what is wrong, for the final line
    bool more;                          // and more than MAX_FINDINGS
};

static const unsigned char* SetupBytes(const Check* check)
{
    return (const unsigned char*)check->bytes.data();
}

static void Report(Check* check, const char* format, ...)
{
    if (check->findings.size() == MAX_FINDINGS) {
        check->more = true;
        return;
    }
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    std::string text(length > 0 ? (size_t)length : 0, '\0');
    std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    va_end(args);
    check->findings.push_back(text);
}

static void ReadSetup(Check* check)
{
    const char* path = check->path.c_str();
    std::error_code error;
    const uint64_t size = fs::file_size(check->path, error);
    if (error)
        Fail("%s: cannot read: %s", path, error.message().c_str());
    if (size > UINT32_LIMIT)
        Fail("%s: %llu bytes is more than a PE image can hold", path, (unsigned long long)size);
    check->bytes.reserve(size);
    if (!ReadWholeFile(check->path, &check->bytes))
        Fail("%s: cannot read: %s", path, std::strerror(errno));
    // It may have grown while it was read.
    if (check->bytes.size() > UINT32_LIMIT)
        Fail("%s: %zu bytes is more than a PE image can hold", path, check->bytes.size());
    if (!ReadPeHeaders(SetupBytes(check), (uint32_t)check->bytes.size(), &check->headers))
        Fail("%s: not a PE32 or PE32+ image, or its headers are cut short", path);
}

static void CheckImageChecksum(Check* check)
{
    const PeHeaders& headers = check->headers;
    const uint32_t size = (uint32_t)check->bytes.size();
    char machine[16];
    if (headers.machine == PE_MACHINE_I386)
        std::snprintf(machine, sizeof machine, "i386");
    else if (headers.machine == PE_MACHINE_AMD64)
        std::snprintf(machine, sizeof machine, "x86-64");
    else
        std::snprintf(machine, sizeof machine, "machine 0x%04x", headers.machine);
    std::printf("%s: %s for %s, %u bytes\n", check->path.c_str(),
                headers.magic == PE_MAGIC_PE32 ? "PE32" : "PE32+", machine, size);
    // Cannot fail: the headers were read from the same bytes.
    uint32_t computed = 0;
    ComputeImageChecksum(SetupBytes(check), size, &computed);
    std::printf("image checksum: 0x%08x, the header's 0x%08x\n", computed, headers.checksum);
    if (headers.checksum == 0)
        Report(check, "the header's image checksum is 0: nothing vouches for the file");
    else if (computed != headers.checksum)
        Report(check, "image checksum 0x%08x does not match the header's 0x%08x", computed,
               headers.checksum);
}

// The data resource id; false, reported, when the setup has none readable.
static bool FindData(Check* check, uint32_t id, const char* what, const unsigned char** data,
                     uint32_t* size)
{
    uint32_t offset;
    if (!FindPeResource(SetupBytes(check), (uint32_t)check->bytes.size(), &check->headers,
                        PE_RESOURCE_RCDATA, id, PE_ANY_LANGUAGE, &offset, size)) {
        Report(check, "no readable %s (resource %u)", what, id);
        return false;
    }
    *data = SetupBytes(check) + offset;
    return true;
}

// Lists the entries as far as they can be read, and returns them.
static std::vector<SetupEntry> ListArchive(Check* check, const unsigned char* data, uint32_t size)
{
    std::vector<SetupEntry> entries;
    uint32_t total, count;
    if (!ReadArchiveHeader(data, size, &total, &count)) {
        Report(check, "the payload archive is shorter than its header");
        return entries;
    }
    std::printf("payload archive: %u entries, %u bytes\n", count, total);
    uint32_t offset = ARCHIVE_HEADER_SIZE;
    uint64_t sum = 0;
    while (entries.size() < count) {
        SetupEntry entry;
        entry.start = offset;
        if (!NextArchiveEntry(data, size, &offset, &entry.entry)) {
            Report(check, "payload entry %zu of %u does not lie inside the archive",
                   entries.size() + 1, count);
            return entries;
        }
        std::printf("  %10u  %s\n", entry.entry.size, FromCp1251(entry.entry.name).c_str());
        sum += entry.entry.size;
        entries.push_back(entry);
    }
    if (offset != size)
        Report(check, "%u bytes lie behind the payload archive's last entry", size - offset);
    if (sum != total)
        Report(check, "the payload archive's total %u is not the sum of its entries, %llu", total,
               (unsigned long long)sum);
    return entries;
}

static void ListLinks(Check* check, const unsigned char* data, uint32_t size)
{
    uint32_t count;
    if (!ReadLinkCount(data, size, &count)) {
        Report(check, "the group links are shorter than their count");
        return;
    }
    std::printf("group links: %u\n", count);
    uint32_t offset = 4;
    for (uint32_t i = 0; i < count; ++i) {
        const char* target;
        const char* name;
        if (!NextGroupLink(data, size, &offset, &target, &name)) {
            Report(check, "group link %u of %u does not lie inside its resource", i + 1, count);
            return;
        }
        std::printf("  %s | %s\n", FromCp1251(target).c_str(), FromCp1251(name).c_str());
    }
    if (offset != size)
        Report(check, "%u bytes lie behind the last group link", size - offset);
}

static void ListSetupStrings(Check* check, const unsigned char* data, uint32_t size)
{
    const char* strings[SETUP_STRING_COUNT];
    const int intact = ReadSetupStrings(data, size, strings);
    std::printf("setup strings:\n");
    for (int i = 0; i < SETUP_STRING_COUNT; ++i)
        std::printf("  %-24s %s\n", SETUP_STRING_LABELS[i], FromCp1251(strings[i]).c_str());
    if (intact < SETUP_STRING_COUNT)
        Report(check, "only %d of the %d setup strings are terminated", intact, SETUP_STRING_COUNT);
}

static void ListDisplayName(Check* check, const unsigned char* data, uint32_t size)
{
    const char* name = ReadDisplayName(data, size);
    std::printf("display name: %s\n", FromCp1251(name).c_str());
    if (!name[0])
        Report(check, "the display name is empty or not terminated");
}

// How far behind names[from] name stands; NOT_FOUND when nowhere.
static size_t Distance(const std::vector<std::string>& names, size_t from, const std::string& name)
{
    for (size_t k = from; k < names.size(); ++k)
        if (names[k] == name)
            return k - from;
    return NOT_FOUND;
}

static void CompareEntry(Check* check, const unsigned char* archive, const SetupEntry& entry,
                         const PayloadFile& file)
{
    Output header = CompareWith(archive + entry.start, ENTRY_HEADER_SIZE);
    WriteEntryHeader(&header, file);
    Output bytes = CompareWith(entry.entry.bytes, entry.entry.size);
    CopyEntryBytes(&bytes, file);
    const std::string name = FromCp1251(entry.entry.name);
    const unsigned long long at = FirstDifference(&bytes);
    if (entry.entry.size != file.size)
        Report(check,
               "entry \"%s\" differs from the package's at byte %llu (%u bytes in the setup, "
               "%llu in the package)",
               name.c_str(), at, entry.entry.size, (unsigned long long)file.size);
    else if (at != NO_DIFFERENCE)
        Report(check, "entry \"%s\" differs from the package's at byte %llu", name.c_str(), at);
    else if (FirstDifference(&header) != NO_DIFFERENCE)
        Report(check, "entry \"%s\" differs from the package's in the padding of its name",
               name.c_str());
}

// Pairs the setup's entries with the package's by name in archive order,
// so that one entry left out or added is named as such rather than making
// every entry behind it differ.
static void CompareArchive(Check* check, const Package& package, uint32_t total,
                           const unsigned char* archive, uint32_t size,
                           const std::vector<SetupEntry>& entries)
{
    uint32_t setupTotal, setupCount;
    if (ReadArchiveHeader(archive, size, &setupTotal, &setupCount) &&
        (setupTotal != total || setupCount != package.files.size()))
        Report(check, "the payload archive holds %u entries of %u bytes, the package %zu of %u",
               setupCount, setupTotal, package.files.size(), total);
    std::vector<std::string> inSetup, inPackage;
    for (const SetupEntry& entry : entries)
        inSetup.push_back(entry.entry.name);
    for (const PayloadFile& file : package.files)
        inPackage.push_back(file.name);

    size_t i = 0, j = 0;
    while ((i < inSetup.size() || j < inPackage.size()) && check->findings.size() < MAX_FINDINGS) {
        if (i < inSetup.size() && j < inPackage.size() && inSetup[i] == inPackage[j]) {
            CompareEntry(check, archive, entries[i++], package.files[j++]);
            continue;
        }
        // The side whose current name the other holds nearer ahead has
        // the entries the other lacks.
        const size_t lacking = i == inSetup.size() ? 0
                               : j == inPackage.size() ? NOT_FOUND
                                                       : Distance(inPackage, j, inSetup[i]);
        const size_t extra = j == inPackage.size() ? 0
                             : i == inSetup.size() ? NOT_FOUND
                                                   : Distance(inSetup, i, inPackage[j]);
        if (lacking < extra) {
            Report(check, "entry \"%s\" of the package is missing from the setup",
                   FromCp1251(inPackage[j++].c_str()).c_str());
        } else if (extra < lacking) {
            Report(check, "entry \"%s\" of the setup is not in the package",
                   FromCp1251(inSetup[i++].c_str()).c_str());
        } else {
            Report(check, "entry %zu is \"%s\" in the setup but \"%s\" in the package", i + 1,
                   FromCp1251(inSetup[i].c_str()).c_str(),
                   FromCp1251(inPackage[j].c_str()).c_str());
            ++i;
            ++j;
        }
    }
    if (i < inSetup.size() || j < inPackage.size())
        check->more = true;
}

static void CompareResource(Check* check, const char* what, const unsigned char* data,
                            uint32_t size, void (*write)(Output*, const Package&),
                            const Package& package)
{
    Output out = CompareWith(data, size);
    write(&out, package);
    const unsigned long long at = FirstDifference(&out);
    if (at != NO_DIFFERENCE)
        Report(check, "%s from the package's at byte %llu", what, at);
}

int CheckSetup(const fs::path& path, const fs::path* folder)
{
    // A folder the build would refuse ends the check before it begins.
    Package package;
    uint32_t total = 0;
    if (folder) {
        package = ReadDescription(*folder);
        total = CheckPayloadTotal(package, *folder);
    }
    Check check;
    check.path = path.string();
    check.more = false;
    ReadSetup(&check);
    CheckImageChecksum(&check);

    const unsigned char* data;
    uint32_t size;
    if (FindData(&check, IDR_PAYLOAD, "payload archive", &data, &size)) {
        std::vector<SetupEntry> entries = ListArchive(&check, data, size);
        if (folder)
            CompareArchive(&check, package, total, data, size, entries);
    }
    if (FindData(&check, IDR_GROUP_LINKS, "group links", &data, &size)) {
        ListLinks(&check, data, size);
        if (folder)
            CompareResource(&check, "the group links differ", data, size, WriteLinks, package);
    }
    if (FindData(&check, IDR_SETUP_STRINGS, "setup strings", &data, &size)) {
        ListSetupStrings(&check, data, size);
        if (folder)
            CompareResource(&check, "the setup strings differ", data, size, WriteSetupStrings,
                            package);
    }
    if (FindData(&check, IDR_DISPLAY_NAME, "display name", &data, &size)) {
        ListDisplayName(&check, data, size);
        if (folder)
            CompareResource(&check, "the display name differs", data, size, WriteDisplayName,
                            package);
    }
    if (FindData(&check, IDR_AGREEMENT, "agreement", &data, &size))
        std::printf("agreement: %u bytes\n", size);

    std::fflush(stdout);
    if (check.findings.empty()) {
        std::printf("pkgbuild: %s: the image checksum is right", check.path.c_str());
        if (folder)
            std::printf(" and every data resource agrees with %s", folder->c_str());
        std::printf("\n");
        return 0;
    }
    std::string reasons;
    for (const std::string& finding : check.findings)
        reasons += (reasons.empty() ? "" : "; ") + finding;
    if (check.more)
        reasons += "; and more";
    std::fprintf(stderr, "pkgbuild: %s: %s\n", check.path.c_str(), reasons.c_str());
    return 1;
}
