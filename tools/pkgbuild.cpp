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
#include "core/package.h"
#include "core/pe_image.h"
#include "resources/ids.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
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
// Period of the bytes of a "fill" entry: prime, so that a block copied to
// the wrong place of a large file shows.
const unsigned FILL_PERIOD = 251;

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

static std::vector<fs::path> g_tempFiles;

static void RemoveTempFiles()
{
    for (const fs::path& path : g_tempFiles) {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    g_tempFiles.clear();
}

[[noreturn]] static void Fail(const char* format, ...)
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

// --- Windows-1251 ---------------------------------------------------------

// Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
// 0x98 has no character.
static const uint16_t CP1251_HIGH[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

static int Cp1251Byte(uint32_t code)
{
    if (code < 0x80)
        return (int)code;
    if (code >= 0x0410 && code <= 0x044F)
        return (int)(0xC0 + code - 0x0410);
    for (int i = 0; i < 64; ++i)
        if (CP1251_HIGH[i] == code)
            return 0x80 + i;
    return -1;
}

// Converts UTF-8 text to Windows-1251, failing on malformed UTF-8 and on a
// character the code page lacks; what names the item for the message.
static std::string ToCp1251(const std::string& text, const std::string& where,
                            const std::string& what)
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = (unsigned char)text[i];
        uint32_t code;
        size_t extra;
        if (lead < 0x80) {
            code = lead;
            extra = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1F;
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0F;
            extra = 2;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07;
            extra = 3;
        } else {
            Fail("%s: %s is not valid UTF-8 (byte 0x%02X at %zu)", where.c_str(),
                 what.c_str(), lead, i);
        }
        if (text.size() - i - 1 < extra)
            Fail("%s: %s is not valid UTF-8 (truncated character at %zu)",
                 where.c_str(), what.c_str(), i);
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char next = (unsigned char)text[i + k];
            if ((next & 0xC0) != 0x80)
                Fail("%s: %s is not valid UTF-8 (byte 0x%02X at %zu)", where.c_str(),
                     what.c_str(), next, i + k);
            code = (code << 6) | (next & 0x3F);
        }
        static const uint32_t SHORTEST[4] = {0, 0x80, 0x800, 0x10000};
        if (code < SHORTEST[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            Fail("%s: %s is not valid UTF-8 (bad sequence at %zu)", where.c_str(),
                 what.c_str(), i);
        int byte = Cp1251Byte(code);
        if (byte < 0)
            Fail("%s: %s \"%s\" holds U+%04X, which Windows-1251 cannot store",
                 where.c_str(), what.c_str(), text.c_str(), (unsigned)code);
        out += (char)byte;
        i += extra + 1;
    }
    return out;
}

// Windows-1251 text from a setup, in UTF-8 for the terminal. Control
// characters, the byte the code page leaves without a character and the
// backslash come out as \xNN, so that a damaged or hostile setup cannot
// drive the terminal or pass one name off as another.
static std::string FromCp1251(const char* text)
{
    std::string out;
    for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
        const uint32_t code = *p < 0x80    ? *p
                              : *p >= 0xC0 ? 0x0410 + (*p - 0xC0)
                                           : CP1251_HIGH[*p - 0x80];
        if (code < 0x20 || code == 0x7F || code == '\\' || code == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", *p);
            out += escaped;
        } else if (code < 0x80) {
            out += (char)code;
        } else if (code < 0x800) {
            out += (char)(0xC0 | (code >> 6));
            out += (char)(0x80 | (code & 0x3F));
        } else {
            out += (char)(0xE0 | (code >> 12));
            out += (char)(0x80 | ((code >> 6) & 0x3F));
            out += (char)(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// --- checks -----------------------------------------------------------------

static void CheckLength(const std::string& text, const std::string& shown,
                        const std::string& where, const std::string& what)
{
    if (text.empty())
        Fail("%s: %s is empty", where.c_str(), what.c_str());
    if (text.size() > MAX_NAME_LENGTH)
        Fail("%s: %s \"%s\" is %zu bytes long; at most %u fit", where.c_str(),
             what.c_str(), shown.c_str(), text.size(), (unsigned)MAX_NAME_LENGTH);
    for (unsigned char c : text)
        if (c < 0x20)
            Fail("%s: %s \"%s\" holds the control character 0x%02X", where.c_str(),
                 what.c_str(), shown.c_str(), c);
}

static bool IsDeviceName(const std::string& name)
{
    std::string base = name.substr(0, name.find('.'));
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char* device : DEVICES)
        if (base == device)
            return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// A name of a file or shortcut that must land inside its folder: every
// payload name, link target and link name, and every setup string.
static void CheckFileName(const std::string& name, const std::string& shown,
                          const std::string& where, const std::string& what)
{
    CheckLength(name, shown, where, what);
    size_t folder = name.find_first_of("\\/:");
    if (folder != std::string::npos)
        Fail("%s: %s \"%s\" has a folder part ('%c'); it must be a bare name",
             where.c_str(), what.c_str(), shown.c_str(), name[folder]);
    size_t bad = name.find_first_of("<>\"|?*");
    if (bad != std::string::npos)
        Fail("%s: %s \"%s\" holds '%c', which a Windows file name cannot",
             where.c_str(), what.c_str(), shown.c_str(), name[bad]);
    if (name == "." || name == "..")
        Fail("%s: %s \"%s\" names a folder, not a file", where.c_str(), what.c_str(),
             shown.c_str());
    char last = name[name.size() - 1];
    if (last == '.' || last == ' ')
        Fail("%s: %s \"%s\" ends in a %s, which Windows drops", where.c_str(),
             what.c_str(), shown.c_str(), last == '.' ? "dot" : "space");
    if (IsDeviceName(name))
        Fail("%s: %s \"%s\" is a Windows device name", where.c_str(), what.c_str(),
             shown.c_str());
}

// --- the description ------------------------------------------------------

static std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

static bool ReadWholeFile(const fs::path& path, std::string* text)
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
    if (file.size > UINT32_LIMIT)
        Fail("%s: payload file \"%s\" is %llu bytes; an entry holds at most %llu",
             where.c_str(), value.c_str(), (unsigned long long)file.size,
             (unsigned long long)UINT32_LIMIT);
    package->files.push_back(file);
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
    if (file.size > UINT32_LIMIT)
        Fail("%s: fill entry \"%s\" is %llu bytes; an entry holds at most %llu",
             where.c_str(), shown.c_str(), (unsigned long long)file.size,
             (unsigned long long)UINT32_LIMIT);
    package->files.push_back(file);
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

static Package ReadDescription(const fs::path& folder)
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

static uint32_t CheckPayloadTotal(const Package& package, const fs::path& folder)
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

// --- output ---------------------------------------------------------------

const uint64_t NO_DIFFERENCE = UINT64_MAX;

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

static Output OpenOutput(const fs::path& folder, const char* name)
{
    Output out{};
    out.final = folder / name;
    out.temp = folder / (std::string(name) + ".tmp");
    g_tempFiles.push_back(out.temp);
    out.file = std::fopen(out.temp.c_str(), "wb");
    if (!out.file)
        Fail("cannot create %s: %s", out.temp.c_str(), std::strerror(errno));
    return out;
}

static Output CompareWith(const unsigned char* bytes, uint32_t size)
{
    Output out{};
    out.expected = bytes;
    out.expectedSize = size;
    out.difference = NO_DIFFERENCE;
    return out;
}

static void Compare(Output* out, const unsigned char* bytes, size_t size)
{
    if (out->difference == NO_DIFFERENCE) {
        const uint64_t room =
            out->position < out->expectedSize ? out->expectedSize - out->position : 0;
        const size_t common = (size_t)std::min<uint64_t>(size, room);
        if (common && std::memcmp(out->expected + out->position, bytes, common) != 0) {
            const unsigned char* expected = out->expected + out->position;
            size_t i = 0;
            while (expected[i] == bytes[i])
                ++i;
            out->difference = out->position + i;
        } else if (common < size) {
            out->difference = out->position + common;
        }
    }
    out->position += size;
}

// Where the produced bytes and the setup's part; a setup's extra bytes
// part them where the produced ones end.
static uint64_t FirstDifference(const Output* out)
{
    if (out->difference == NO_DIFFERENCE && out->position < out->expectedSize)
        return out->position;
    return out->difference;
}

static void Write(Output* out, const void* bytes, size_t size)
{
    if (!out->file)
        Compare(out, (const unsigned char*)bytes, size);
    else if (size && std::fwrite(bytes, 1, size, out->file) != size)
        Fail("cannot write %s: %s", out->temp.c_str(), std::strerror(errno));
}

static void WriteNumber(Output* out, uint32_t value)
{
    unsigned char bytes[4];
    WriteUint32(bytes, value);
    Write(out, bytes, 4);
}

static void WriteString(Output* out, const std::string& text)
{
    Write(out, text.c_str(), text.size() + 1);
}

static void CloseOutput(Output* out)
{
    if (std::fclose(out->file) != 0)
        Fail("cannot write %s: %s", out->temp.c_str(), std::strerror(errno));
    out->file = 0;
}

static void WriteEntryHeader(Output* out, const PayloadFile& file)
{
    unsigned char field[ENTRY_NAME_SIZE] = {0};
    std::memcpy(field, file.name.data(), file.name.size());
    Write(out, field, sizeof field);
    WriteNumber(out, (uint32_t)file.size);
}

static void CopyEntryBytes(Output* out, const PayloadFile& file)
{
    static std::vector<unsigned char> buffer(1 << 20);
    if (file.source.empty()) {
        uint64_t done = 0;
        while (done < file.size) {
            size_t chunk = (size_t)std::min<uint64_t>(buffer.size(), file.size - done);
            for (size_t i = 0; i < chunk; ++i)
                buffer[i] = (unsigned char)((done + i) % FILL_PERIOD);
            Write(out, buffer.data(), chunk);
            done += chunk;
        }
        return;
    }
    FILE* in = std::fopen(file.source.c_str(), "rb");
    if (!in)
        Fail("%s: cannot open payload file %s: %s", file.where.c_str(), file.source.c_str(),
             std::strerror(errno));
    uint64_t done = 0;
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        if (done + got > file.size)
            break;
        Write(out, buffer.data(), got);
        done += got;
    }
    bool failed = std::ferror(in);
    std::fclose(in);
    if (failed)
        Fail("%s: cannot read payload file %s", file.where.c_str(), file.source.c_str());
    if (done != file.size || got != 0)
        Fail("%s: payload file %s changed size while it was read", file.where.c_str(),
             file.source.c_str());
}

static void WriteLinks(Output* out, const Package& package)
{
    WriteNumber(out, (uint32_t)package.links.size());
    for (const GroupLink& link : package.links) {
        WriteString(out, link.target);
        WriteString(out, link.name);
    }
}

static void WriteSetupStrings(Output* out, const Package& package)
{
    for (const std::string& text : package.strings)
        WriteString(out, text);
}

static void WriteDisplayName(Output* out, const Package& package)
{
    WriteString(out, package.displayName);
}

static void WritePackage(const Package& package, uint32_t total, const fs::path& folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        Fail("cannot create %s: %s", folder.c_str(), error.message().c_str());

    Output outputs[4] = {OpenOutput(folder, "payload.bin"), OpenOutput(folder, "links.bin"),
                         OpenOutput(folder, "strings.bin"), OpenOutput(folder, "name.bin")};

    Output* payload = &outputs[0];
    WriteNumber(payload, total);
    WriteNumber(payload, (uint32_t)package.files.size());
    for (const PayloadFile& file : package.files) {
        WriteEntryHeader(payload, file);
        CopyEntryBytes(payload, file);
    }
    WriteLinks(&outputs[1], package);
    WriteSetupStrings(&outputs[2], package);
    WriteDisplayName(&outputs[3], package);

    for (Output& out : outputs)
        CloseOutput(&out);
    for (Output& out : outputs) {
        fs::rename(out.temp, out.final, error);
        if (error)
            Fail("cannot replace %s: %s", out.final.c_str(), error.message().c_str());
    }
    g_tempFiles.clear();
}

// --- checking a built setup -----------------------------------------------

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

static int CheckSetup(const fs::path& path, const fs::path* folder)
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
