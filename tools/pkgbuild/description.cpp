// Reads a package folder's description, package.txt, into a Package:
// every line checked and every name converted to Windows-1251, so that
// what comes out is known to build.
#include "pkgbuild.h"

#include "core/package.h"
#include "log/setup_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <system_error>

static std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool ReadWholeFile(const fs::path& path, std::string* text)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text->append(buffer, got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

static uint64_t ParseSize(const std::string& text, const std::string& where)
{
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        Fail("%s: fill size \"%s\" is not a decimal number", where.c_str(), text.c_str());
    return std::strtoull(text.c_str(), 0, 10);
}

// An entry of the archive, named as the description spells it (shown);
// its size must fit the entry's 32-bit field.
static bool SameNameAnyCase(const std::string& name, const char* other)
{
    return name.size() == strlen(other) && strncasecmp(name.c_str(), other, name.size()) == 0;
}

static void AddEntry(Package* package, const PayloadFile& file, const char* kind,
                     const std::string& shown)
{
    // The setup keeps the installation's record under these names beside
    // the payload: a file of either name would overwrite it.
    for (const char* record : {LOG_FILE_NAME, LOG_TEMP_NAME})
        if (SameNameAnyCase(file.name, record))
            Fail("%s: %s \"%s\" is the name of the setup's own record of the installation, "
                 "which it writes beside the payload", file.where.c_str(), kind, shown.c_str());
    if (file.size > UINT32_LIMIT)
        Fail("%s: %s \"%s\" is %llu bytes; an entry holds at most %llu", file.where.c_str(),
             kind, shown.c_str(), (unsigned long long)file.size, (unsigned long long)UINT32_LIMIT);
    package->files.push_back(file);
}

static void AddPayloadFile(Package* package, const fs::path& folder, const std::string& value,
                           const std::string& where)
{
    PayloadFile file;
    file.name = ToCp1251(value, where, "file name");
    CheckFileName(file.name, value, where, "file name");
    file.source = folder / value;
    file.where = where;
    std::error_code error;
    fs::file_status status = fs::status(file.source, error);
    if (error || !fs::exists(status))
        Fail("%s: payload file \"%s\" is missing from %s", where.c_str(), value.c_str(),
             folder.c_str());
    if (!fs::is_regular_file(status))
        Fail("%s: payload file \"%s\" is not a regular file", where.c_str(), value.c_str());
    file.size = fs::file_size(file.source, error);
    if (error)
        Fail("%s: cannot read the size of payload file \"%s\": %s", where.c_str(),
             value.c_str(), error.message().c_str());
    AddEntry(package, file, "payload file", value);
}

static void AddFillFile(Package* package, const std::string& value, const std::string& where)
{
    size_t gap = value.find_first_of(" \t");
    if (gap == std::string::npos)
        Fail("%s: \"fill\" needs a size and a name", where.c_str());
    PayloadFile file;
    file.size = ParseSize(value.substr(0, gap), where);
    std::string shown = Trim(value.substr(gap));
    file.name = ToCp1251(shown, where, "file name");
    CheckFileName(file.name, shown, where, "file name");
    file.where = where;
    AddEntry(package, file, "fill entry", shown);
}

static void AddLink(Package* package, const std::string& value, const std::string& where)
{
    size_t bar = value.find('|');
    if (bar == std::string::npos)
        Fail("%s: link \"%s\" needs \"TARGET | NAME\"", where.c_str(), value.c_str());
    std::string target = Trim(value.substr(0, bar));
    std::string name = Trim(value.substr(bar + 1));
    GroupLink link;
    link.target = ToCp1251(target, where, "link target");
    CheckFileName(link.target, target, where, "link target");
    link.name = ToCp1251(name, where, "link name");
    CheckFileName(link.name, name, where, "link name");
    package->links.push_back(link);
}

Package ReadDescription(const fs::path& folder)
{
    fs::path path = folder / "package.txt";
    std::string text;
    if (!ReadWholeFile(path, &text))
        Fail("%s: cannot read the package description: %s", path.c_str(),
             std::strerror(errno));
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);

    Package package;
    int nameLine = 0;
    size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line[line.size() - 1] == '\r')
            line.erase(line.size() - 1);
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;

        std::string where = path.string() + ":" + std::to_string(number);
        size_t gap = line.find_first_of(" \t");
        std::string keyword = line.substr(0, gap);
        std::string value = gap == std::string::npos ? "" : Trim(line.substr(gap));
        if (keyword == "file") {
            if (value.empty())
                Fail("%s: \"file\" needs a file name", where.c_str());
            AddPayloadFile(&package, folder, value, where);
        } else if (keyword == "fill") {
            AddFillFile(&package, value, where);
        } else if (keyword == "link") {
            AddLink(&package, value, where);
        } else if (keyword == "string") {
            if ((int)package.strings.size() == SETUP_STRING_COUNT)
                Fail("%s: more than %d setup strings", where.c_str(), SETUP_STRING_COUNT);
            std::string what = "setup string " + std::to_string(package.strings.size() + 1);
            std::string converted = ToCp1251(value, where, what);
            CheckFileName(converted, value, where, what);
            package.strings.push_back(converted);
        } else if (keyword == "name") {
            if (nameLine)
                Fail("%s: a second display name (the first is on line %d)", where.c_str(),
                     nameLine);
            package.displayName = ToCp1251(value, where, "display name");
            CheckLength(package.displayName, value, where, "display name");
            // The display name is a registry key name under the uninstall key.
            if (package.displayName.find('\\') != std::string::npos)
                Fail("%s: display name \"%s\" holds '\\', which a registry key name cannot",
                     where.c_str(), value.c_str());
            nameLine = number;
        } else {
            Fail("%s: unknown keyword \"%s\" (expected file, fill, link, string or name)",
                 where.c_str(), keyword.c_str());
        }
    }
    if ((int)package.strings.size() != SETUP_STRING_COUNT)
        Fail("%s: %zu setup strings; exactly %d are needed", path.c_str(),
             package.strings.size(), SETUP_STRING_COUNT);
    if (!nameLine)
        Fail("%s: no display name (a \"name\" line)", path.c_str());
    return package;
}

uint32_t CheckPayloadTotal(const Package& package, const fs::path& folder)
{
    uint64_t total = 0;
    for (const PayloadFile& file : package.files)
        total += file.size;
    std::string where = (folder / "package.txt").string();
    if (total > UINT32_LIMIT)
        Fail("%s: payload total %llu bytes does not fit 32 bits", where.c_str(),
             (unsigned long long)total);
    if (total > MAX_PAYLOAD_TOTAL)
        Fail("%s: payload total %llu bytes is more than the %llu bytes the setup can install",
             where.c_str(), (unsigned long long)total, (unsigned long long)MAX_PAYLOAD_TOTAL);
    if (!package.files.empty() && total == 0)
        Fail("%s: payload total is 0 bytes with %zu files; at least one must have content",
             where.c_str(), package.files.size());
    uint64_t archive = ARCHIVE_HEADER_SIZE + (uint64_t)ENTRY_HEADER_SIZE * package.files.size() + total;
    if (archive > UINT32_LIMIT)
        Fail("%s: the payload archive would be %llu bytes; a resource holds at most %llu",
             where.c_str(), (unsigned long long)archive, (unsigned long long)UINT32_LIMIT);
    return (uint32_t)total;
}
