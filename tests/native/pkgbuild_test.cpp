// The package builder run as the build runs it, its output read back with
// the setup's own readers; every package it must refuse; and its check of
// the Windows builds' setup.exe files, whole, damaged and malformed.
#include "core/package.h"
#include "setup_image.h"
#include "tests/damage.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The six setup strings and the display name every package needs.
const char* const TAIL =
    "name Murmelist\n"
    "string murmlist.exe\nstring Murmelist\nstring murmlist.exe\n"
    "string Murmelist\nstring murmlist.exe\nstring uninst.exe\n";

// Windows-1251's bytes 0x80..0xFF in UTF-8, on either side of 0x98, which
// the code page leaves without a character.
const std::string HIGH_BEFORE_98 = "ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—";
const std::string HIGH_AFTER_98 =
    "™љ›њќћџ\u00A0ЎўЈ¤Ґ¦§Ё©Є«¬\u00AD®Ї°±Ііґµ¶·ё№є»јЅѕїАБВГДЕЖЗИЙКЛМНОП"
    "РСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя";

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

const unsigned char* Data(const std::string& bytes)
{
    return (const unsigned char*)bytes.data();
}

struct Entry {
    std::string name;
    std::string bytes;
};

// The archive's entries, or a test failure when the walk stops early or
// leaves bytes behind the last entry.
std::vector<Entry> ReadArchive(const std::string& archive, uint32_t* total)
{
    std::vector<Entry> entries;
    uint32_t count = 0;
    EXPECT_TRUE(ReadArchiveHeader(Data(archive), (uint32_t)archive.size(), total, &count));
    uint32_t offset = ARCHIVE_HEADER_SIZE;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t start = offset;
        ArchiveEntry entry;
        if (!NextArchiveEntry(Data(archive), (uint32_t)archive.size(), &offset, &entry)) {
            ADD_FAILURE() << "entry " << i << " of " << count << " does not fit";
            break;
        }
        // The name field is NUL-padded to its end.
        std::string field = archive.substr(start, ENTRY_NAME_SIZE);
        EXPECT_EQ(std::string(ENTRY_NAME_SIZE - field.find('\0'), '\0'),
                  field.substr(field.find('\0')));
        entries.push_back({entry.name, std::string((const char*)entry.bytes, entry.size)});
    }
    EXPECT_EQ(archive.size(), offset) << "bytes behind the last entry";
    return entries;
}

std::vector<std::pair<std::string, std::string>> ReadLinks(const std::string& links)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    uint32_t count = 0;
    EXPECT_TRUE(ReadLinkCount(Data(links), (uint32_t)links.size(), &count));
    uint32_t offset = 4;
    for (uint32_t i = 0; i < count; ++i) {
        const char* target;
        const char* name;
        if (!NextGroupLink(Data(links), (uint32_t)links.size(), &offset, &target, &name)) {
            ADD_FAILURE() << "link " << i << " of " << count << " does not fit";
            break;
        }
        pairs.push_back({target, name});
    }
    EXPECT_EQ(links.size(), offset);
    return pairs;
}

class Builder : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "pkgbuild-test-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        root = pattern;
        package = root / "package";
        out = root / "out";
        fs::create_directory(package);
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    void Describe(const std::string& text) { WriteBytes(package / "package.txt", text); }

    // Runs the builder; returns its exit code and keeps what it printed.
    int Build(const fs::path& to)
    {
        return Run("'" + package.string() + "' '" + to.string() + "'");
    }
    int Build() { return Build(out); }

    int Run(const std::string& arguments)
    {
        std::string command = std::string("'") + PKGBUILD + "' " + arguments + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        output.clear();
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, got);
        int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path root, package, out;
    std::string output;
};

TEST_F(Builder, SamplePackageRoundTrips)
{
    fs::path source = fs::path(SOURCE_DIR) / "resources" / "package";
    for (const fs::directory_entry& item : fs::directory_iterator(source))
        if (item.is_regular_file())
            fs::copy_file(item.path(), package / item.path().filename());
    // The two programs come from the cross build; any bytes serve here.
    WriteBytes(package / "MurmList.exe", "MZ" + std::string(44542, '\x90'));
    WriteBytes(package / "uninst.exe", "MZ" + std::string(6654, '\xCC'));

    ASSERT_EQ(0, Build()) << output;

    uint32_t total = 0;
    std::vector<Entry> entries = ReadArchive(ReadBytes(out / "payload.bin"), &total);
    const char* const order[] = {"MurmList.exe", "murm.chm", "settings.ini", "Base2.vdb",
                                 "uninst.exe"};
    ASSERT_EQ(5u, entries.size());
    uint32_t sum = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(order[i], entries[i].name);
        EXPECT_EQ(ReadBytes(package / order[i]), entries[i].bytes) << order[i];
        sum += (uint32_t)entries[i].bytes.size();
    }
    EXPECT_EQ(sum, total);
    EXPECT_EQ(48u, entries[3].bytes.size());

    auto links = ReadLinks(ReadBytes(out / "links.bin"));
    ASSERT_EQ(2u, links.size());
    EXPECT_EQ("murmlist.exe", links[0].first);
    EXPECT_EQ("Murmelist", links[0].second);
    EXPECT_EQ("uninst.exe", links[1].first);
    EXPECT_EQ("\xD3\xE4\xE0\xEB\xE8\xF2\xFC Murmelist", links[1].second);

    std::string strings = ReadBytes(out / "strings.bin");
    EXPECT_EQ(std::string("murmlist.exe\0Murmelist\0murmlist.exe\0Murmelist\0murmlist.exe\0"
                          "uninst.exe\0", 70),
              strings);
    const char* read[SETUP_STRING_COUNT];
    EXPECT_EQ(6, ReadSetupStrings(Data(strings), (uint32_t)strings.size(), read));
    EXPECT_EQ(std::string("Murmelist\0", 10), ReadBytes(out / "name.bin"));
}

TEST_F(Builder, EdgePackagesRoundTrip)
{
    const std::string longName(MAX_NAME_LENGTH, 'L');
    WriteBytes(package / "empty.bin", "");
    WriteBytes(package / "dup.txt", "first");
    WriteBytes(package / "\xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0.txt", "tree");  // "Ёлка.txt"
    // A BOM, CR LF line ends, comments and blank lines.
    Describe("\xEF\xBB\xBF# test package\r\n\r\n"
             "file empty.bin\r\n"
             "fill 3 " + longName + "\r\n"
             "file dup.txt\r\n"
             "   file   dup.txt   \r\n"
             "fill 1000 generated.bin\r\n"
             "file \xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0.txt\r\n"
             "link a.exe | \xC2\xAB\xD0\x81\xD1\x91\xC2\xBB \xE2\x84\x96 \xE2\x80\x94 x\r\n"
             "name \xD0\xA2\xD0\xB5\xD1\x81\xD1\x82\r\n"  // "Тест"
             "string murmlist.exe\r\nstring Murmelist\r\nstring murmlist.exe\r\n"
             "string Murmelist\r\nstring murmlist.exe\r\nstring uninst.exe\r\n");
    ASSERT_EQ(0, Build()) << output;

    uint32_t total = 0;
    std::vector<Entry> entries = ReadArchive(ReadBytes(out / "payload.bin"), &total);
    ASSERT_EQ(6u, entries.size());
    EXPECT_EQ("empty.bin", entries[0].name);
    EXPECT_EQ("", entries[0].bytes);
    EXPECT_EQ(longName, entries[1].name);
    EXPECT_EQ(std::string("\0\1\2", 3), entries[1].bytes);
    EXPECT_EQ("dup.txt", entries[2].name);
    EXPECT_EQ("dup.txt", entries[3].name);
    EXPECT_EQ("first", entries[3].bytes);
    ASSERT_EQ(1000u, entries[4].bytes.size());
    for (size_t k = 0; k < 1000; ++k)
        ASSERT_EQ((unsigned char)(k % 251), (unsigned char)entries[4].bytes[k]) << k;
    EXPECT_EQ("\xA8\xEB\xEA\xE0.txt", entries[5].name);
    EXPECT_EQ(0u + 3 + 5 + 5 + 1000 + 4, total);

    auto links = ReadLinks(ReadBytes(out / "links.bin"));
    ASSERT_EQ(1u, links.size());
    EXPECT_EQ("\xAB\xA8\xB8\xBB \xB9 \x97 x", links[0].second);
    EXPECT_EQ(std::string("\xD2\xE5\xF1\xF2\0", 5), ReadBytes(out / "name.bin"));

    // No files and no links: headers alone.
    Describe(TAIL);
    ASSERT_EQ(0, Build()) << output;
    EXPECT_EQ(std::string(8, '\0'), ReadBytes(out / "payload.bin"));
    EXPECT_EQ(std::string(4, '\0'), ReadBytes(out / "links.bin"));
}

TEST_F(Builder, EveryWindows1251CharacterIsStoredAsItsByte)
{
    const std::string high = HIGH_BEFORE_98 + HIGH_AFTER_98;
    Describe("fill 1 " + high + "\nlink a.exe | x" + high + "\n" + TAIL);
    ASSERT_EQ(0, Build()) << output;
    std::string bytes;
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        if (byte != 0x98)
            bytes += (char)byte;
    uint32_t total = 0;
    std::vector<Entry> entries = ReadArchive(ReadBytes(out / "payload.bin"), &total);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(bytes, entries[0].name);
    auto links = ReadLinks(ReadBytes(out / "links.bin"));
    ASSERT_EQ(1u, links.size());
    EXPECT_EQ("x" + bytes, links[0].second);
}

TEST_F(Builder, OutputIsDeterministicAndARefusalLeavesItAlone)
{
    WriteBytes(package / "a.txt", "alpha");
    Describe(std::string("file a.txt\nlink a.txt | A\n") + TAIL);
    ASSERT_EQ(0, Build()) << output;
    ASSERT_EQ(0, Build(root / "again")) << output;
    const char* const names[] = {"payload.bin", "links.bin", "strings.bin", "name.bin"};
    std::vector<std::string> first;
    for (const char* name : names) {
        first.push_back(ReadBytes(out / name));
        EXPECT_EQ(first.back(), ReadBytes(root / "again" / name)) << name;
    }

    Describe(std::string("file a.txt\nfile gone.txt\n") + TAIL);
    EXPECT_EQ(1, Build());
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(first[i], ReadBytes(out / names[i])) << names[i];
    size_t files = 0;
    for (const fs::directory_entry& item : fs::directory_iterator(out)) {
        (void)item;
        ++files;
    }
    EXPECT_EQ(4u, files) << "temporary files left behind";

    EXPECT_EQ(2, Run("'" + package.string() + "'"));
    EXPECT_NE(std::string::npos, output.find("usage: pkgbuild PACKAGE_DIR OUT_DIR"));
    EXPECT_EQ(2, Run("'' ''"));
}

struct Refusal {
    const char* label;
    std::string description;  // TAIL is appended unless it has strings
    std::vector<std::string> expected;  // every one must appear in the message
    std::function<void(const fs::path&)> prepare = nullptr;
};

TEST_F(Builder, RefusesBadPackagesNamingTheItem)
{
    const std::string name260(MAX_NAME_LENGTH + 1, 'n');
    const std::string six = "string a\nstring b\nstring c\nstring d\nstring e\nstring f\n";
    auto empty = [](const char* name) {
        return [name](const fs::path& folder) { WriteBytes(folder / name, ""); };
    };
    const std::vector<Refusal> cases = {
        {"name over 259 bytes", "fill 1 " + name260 + "\n", {":1:", name260, "260 bytes"}},
        {"link name over 259 bytes", "link a.exe | " + name260 + "\n", {"link name", name260}},
        {"string over 259 bytes",
         "name X\nstring a\nstring " + name260 + "\nstring c\nstring d\nstring e\nstring f\n",
         {":3:", "setup string 2", name260, "260 bytes"}},
        {"backslash", "fill 1 sub\\a.txt\n", {"sub\\a.txt", "folder part"}},
        {"slash", "file sub/a.txt\n", {"sub/a.txt", "folder part"}},
        {"drive", "fill 1 c:a.txt\n", {"c:a.txt", "folder part"}},
        {"link target with a folder", "link ..\\up.exe | Up\n", {"link target", "..\\up.exe"}},
        {"string with a folder", "name X\nstring C:\\x.exe\nstring b\nstring c\nstring d\n"
                                 "string e\nstring f\n",
         {"setup string 1", "C:\\x.exe"}},
        {"wildcard", "fill 1 a?.txt\n", {"a?.txt"}},
        {"dot dot", "fill 1 ..\n", {"\"..\"", "folder"}},
        {"trailing dot", "fill 1 a.txt.\n", {"a.txt.", "dot"}},
        {"device", "fill 1 nul.txt\n", {"nul.txt", "device"}},
        {"the setup's record", "fill 1 Setup.LOG\n", {"Setup.LOG", "record"}},
        {"the record's copy", "file SETUP.tmp\n", {"SETUP.tmp", "record"},
         [](const fs::path& folder) { WriteBytes(folder / "SETUP.tmp", ""); }},
        {"file without a name", "file\n", {":1:", "file name"}},
        {"missing file", "file nothere.bin\n", {":1:", "nothere.bin", "missing"}},
        {"folder as file", "file sub\n", {"sub", "not a regular file"},
         [](const fs::path& folder) { fs::create_directory(folder / "sub"); }},
        {"entry over 32 bits", "fill 4294967296 big.bin\n", {"big.bin", "4294967296"}},
        {"file over 32 bits", "file huge.bin\n", {"huge.bin", "4294967297"},
         [](const fs::path& folder) {
             WriteBytes(folder / "huge.bin", "");
             fs::resize_file(folder / "huge.bin", 4294967297ull);  // sparse
         }},
        {"total over 32 bits", "fill 3000000000 a.bin\nfill 3000000000 b.bin\n",
         {"total 6000000000"}},
        {"total over what the setup can load", "fill 1992294401 a.bin\n",
         {"1992294401", "more than the 1992294400 bytes"}},
        {"count with total 0", "file e1\nfile e2\n", {"total is 0 bytes with 2 files"},
         [&](const fs::path& folder) {
             empty("e1")(folder);
             empty("e2")(folder);
         }},
        {"unknown keyword", "flie a.txt\n", {":1:", "\"flie\""}},
        {"link without a bar", "link a.exe Murmelist\n", {"a.exe Murmelist", "TARGET | NAME"}},
        {"fill size not a number", "fill 12x a.bin\n", {"\"12x\""}},
        {"fill without a name", "fill 12\n", {":1:", "fill"}},
        {"five strings", "name X\nstring a\nstring b\nstring c\nstring d\nstring e\n",
         {"5 setup strings"}},
        {"seven strings", "name X\n" + six + "string g\n", {":8:", "more than 6"}},
        {"no display name", six, {"no display name"}},
        {"two display names", "name X\nname Y\n" + six, {":2:", "second display name"}},
        {"empty display name", "name\n" + six, {"display name is empty"}},
        {"display name with a backslash", "name A\\B\n" + six, {"A\\B", "registry"}},
        {"no Windows-1251 form", "link a.exe | \xE4\xB8\xAD\n", {"link name", "U+4E2D"}},
        {"bad UTF-8", "link a.exe | \xC3\x28\n", {"link name", "not valid UTF-8"}},
        {"overlong UTF-8", "fill 1 \xC0\xAF\n", {"file name", "not valid UTF-8"}},
        {"no description", "", {"package.txt", "cannot read"},
         [](const fs::path& folder) { fs::remove(folder / "package.txt"); }},
    };

    for (const Refusal& refusal : cases) {
        SCOPED_TRACE(refusal.label);
        fs::remove_all(package);
        fs::create_directory(package);
        fs::remove_all(out);
        bool ownStrings = refusal.description.find("string ") != std::string::npos;
        Describe(refusal.description + (ownStrings ? "" : TAIL));
        if (refusal.prepare)
            refusal.prepare(package);

        EXPECT_EQ(1, Build());
        EXPECT_EQ(0u, output.find("pkgbuild: ")) << output;
        for (const std::string& part : refusal.expected)
            EXPECT_NE(std::string::npos, output.find(part)) << "no \"" << part << "\" in: " << output;
        EXPECT_FALSE(fs::exists(out / "payload.bin"));
    }
}

// Text in package.txt must be UTF-8 of characters Windows-1251 holds. The
// message names the line and the item, and the first fault in the text:
// the byte that breaks the UTF-8, where it stands, or the character.
TEST_F(Builder, RefusesTextThatIsNotWindows1251)
{
    const std::string six = "string a\nstring b\nstring c\nstring d\nstring e\nstring f\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        // Bytes that start no character, and a character cut off by a
        // byte that continues none or by the end of the line.
        {"fill 1 ab\x80.txt", "1: file name is not valid UTF-8 (byte 0x80 at 2)"},
        {"link a\xF5\x80\x80\x80.exe | A", "1: link target is not valid UTF-8 (byte 0xF5 at 1)"},
        {"link a.exe | \xC0\xAF", "1: link name is not valid UTF-8 (byte 0xC0 at 0)"},
        {"link a.exe | x\xE2\x28\xA1", "1: link name is not valid UTF-8 (byte 0x28 at 2)"},
        {"name Ab\xE2\x82", "1: display name is not valid UTF-8 (truncated character at 2)"},
        // Well formed, but overlong, a surrogate or past U+10FFFF.
        {"name X\nstring a\nstring \xE0\x80\xAF\nstring c\nstring d\nstring e\nstring f",
         "3: setup string 2 is not valid UTF-8 (bad sequence at 0)"},
        {"fill 1 x\xF0\x80\x80\xAF", "1: file name is not valid UTF-8 (bad sequence at 1)"},
        {"fill 1 x\xED\xA0\x80", "1: file name is not valid UTF-8 (bad sequence at 1)"},
        {"fill 1 x\xED\xBF\xBF", "1: file name is not valid UTF-8 (bad sequence at 1)"},
        {"fill 1 x\xF4\x90\x80\x80", "1: file name is not valid UTF-8 (bad sequence at 1)"},
        // Characters the code page lacks: U+0098 must not pass for the
        // empty byte 0x98, nor a tag character vanish from the name.
        {"link a.exe | caf\xC3\xA9",
         "1: link name \"caf\xC3\xA9\" holds U+00E9, which Windows-1251 cannot store"},
        {"link a.exe | \xC2\x98", "1: link name \"\xC2\x98\" holds U+0098, which Windows-1251 "
                                  "cannot store"},
        {"fill 1 \xF0\x9F\x98\x80", "1: file name \"\xF0\x9F\x98\x80\" holds U+1F600, which "
                                      "Windows-1251 cannot store"},
        {"fill 1 a\xF3\xA0\x81\x81.txt", "1: file name \"a\xF3\xA0\x81\x81.txt\" holds U+E0041, "
                                          "which Windows-1251 cannot store"},
        // Whichever fault comes first.
        {"link a.exe | \xE4\xB8\xAD\xC3\x28",
         "1: link name \"\xE4\xB8\xAD\xC3\x28\" holds U+4E2D, which Windows-1251 cannot store"},
        {"link a.exe | \xC3\x28\xE4\xB8\xAD", "1: link name is not valid UTF-8 (byte 0x28 at 1)"},
    };
    for (const auto& refusal : cases) {
        SCOPED_TRACE(refusal.second);
        const bool ownStrings = refusal.first.find("string ") != std::string::npos;
        Describe(refusal.first + "\n" + (ownStrings ? "" : TAIL));
        EXPECT_EQ(1, Build());
        EXPECT_EQ("pkgbuild: " + (package / "package.txt").string() + ":" + refusal.second + "\n",
                  output);
    }
}

// --- the check of a built setup ---------------------------------------------

class Check : public Builder, public ::testing::WithParamInterface<::Build> {
protected:
    void SetUp() override
    {
        Builder::SetUp();
        setup = GetParam().dir + "/setup.exe";
        built = GetParam().dir + "/package";
        ASSERT_TRUE(LoadImage(setup.string(), GetParam().make, &image));
    }

    // Runs the check; reason is the last line it printed.
    int CheckSetup(const fs::path& exe, const fs::path& folder = fs::path())
    {
        std::string arguments = "--check '" + exe.string() + "'";
        if (!folder.empty())
            arguments += " '" + folder.string() + "'";
        const int code = Run(arguments);
        reason = output.substr(0, output.size() - (!output.empty() && output.back() == '\n'));
        reason.erase(0, reason.rfind('\n') + 1);  // npos + 1 is 0
        return code;
    }

    fs::path WriteImage(const Bytes& bytes)
    {
        WriteBytes(root / "copy.exe", std::string(bytes.begin(), bytes.end()));
        return root / "copy.exe";
    }

    fs::path setup, built;
    Image image;
    std::string reason;
};

const size_t NONE = std::string::npos;

TEST_P(Check, BuildAgreesWithItsPackageAndListsIt)
{
    ASSERT_EQ(0, CheckSetup(setup, built)) << output;
    uint64_t total = 0;
    for (const char* name :
         {"MurmList.exe", "murm.chm", "settings.ini", "Base2.vdb", "uninst.exe"}) {
        const uint64_t size = fs::file_size(built / name);
        total += size;
        EXPECT_NE(NONE, output.find(" " + std::to_string(size) + "  " + name + "\n")) << output;
    }
    EXPECT_NE(NONE,
              output.find("payload archive: 5 entries, " + std::to_string(total) + " bytes\n"));
    EXPECT_NE(NONE, output.find("\n  uninst.exe | Удалить Murmelist\n")) << output;
    EXPECT_NE(NONE, output.find("\n  uninstaller              uninst.exe\n")) << output;
    EXPECT_NE(NONE, output.find("\ndisplay name: Murmelist\n")) << output;
    const uint64_t agreement = fs::file_size(fs::path(SOURCE_DIR) / "resources" / "agreement.txt");
    EXPECT_NE(NONE, output.find("\nagreement: " + std::to_string(agreement) + " bytes\n"));
    EXPECT_EQ(0u, reason.find("pkgbuild: ")) << reason;

    EXPECT_EQ(0, CheckSetup(setup)) << output;
}

// Names from a setup reach the terminal in UTF-8, and every byte that
// could drive it or pass for another is shown as \xNN: control characters,
// DEL, the backslash and 0x98, which has no character.
TEST_P(Check, ListingShowsWindows1251AndEscapesTheRest)
{
    uint32_t offset, length;
    ASSERT_TRUE(FindPeResource(image.data(), image.size(), &image.headers, PE_RESOURCE_RCDATA,
                               IDR_PAYLOAD, PE_ANY_LANGUAGE, &offset, &length));
    Bytes odd = image.bytes;
    std::string expected;
    for (int byte = 1; byte < 0x80; ++byte) {
        odd[offset + ARCHIVE_HEADER_SIZE + byte - 1] = (unsigned char)byte;
        if (byte < 0x20 || byte == '\\' || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            expected += escaped;
        } else {
            expected += (char)byte;
        }
    }
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        odd[offset + ARCHIVE_HEADER_SIZE + byte - 1] = (unsigned char)byte;
    odd[offset + ARCHIVE_HEADER_SIZE + 0xFF] = 0;
    expected += HIGH_BEFORE_98 + "\\x98" + HIGH_AFTER_98;
    uint32_t sum;
    ASSERT_TRUE(ComputeImageChecksum(odd.data(), (uint32_t)odd.size(), &sum));
    WriteUint32(&odd[image.headers.checksumField], sum);

    EXPECT_EQ(0, CheckSetup(WriteImage(odd))) << output;
    EXPECT_NE(NONE, output.find("  " + expected + "\n")) << output;
}

// The damaged byte of the payload lies in one entry's data: the check must
// name it and its offset besides the checksum.
std::string DamagedEntry(const Image& image)
{
    uint32_t offset, length;
    if (!FindPeResource(image.data(), image.size(), &image.headers, PE_RESOURCE_RCDATA,
                        IDR_PAYLOAD, PE_ANY_LANGUAGE, &offset, &length))
        return "no payload";
    const unsigned char* archive = image.data() + offset;
    const unsigned char* hit = archive + length / 2;
    uint32_t at = ARCHIVE_HEADER_SIZE;
    ArchiveEntry entry;
    while (NextArchiveEntry(archive, length, &at, &entry))
        if (hit >= entry.bytes && hit < entry.bytes + entry.size)
            return "entry \"" + std::string(entry.name) + "\" differs from the package's at byte " +
                   std::to_string(hit - entry.bytes);
    return "damage outside the entries' data";
}

TEST_P(Check, EveryDamageFailsOnTheChecksumNamingTheEntry)
{
    for (int kind = 0; kind < DAMAGE_KINDS; ++kind) {
        SCOPED_TRACE(NameDamage((DamageKind)kind));
        Bytes damaged = image.bytes;
        ASSERT_TRUE(DamageImage(&damaged, (DamageKind)kind));
        EXPECT_EQ(1, CheckSetup(WriteImage(damaged), built));
        const std::string start = "pkgbuild: " + (root / "copy.exe").string() + ": ";
        EXPECT_EQ(0u, reason.find(start + "image checksum 0x")) << reason;
        EXPECT_NE(NONE, reason.find(" does not match the header's 0x")) << reason;
        if (kind == DAMAGE_PAYLOAD) {
            EXPECT_NE(NONE, reason.find(DamagedEntry(image))) << reason;
            EXPECT_NE(NONE, output.find("  uninst.exe\n")) << "listing not printed";
        }
    }

    Bytes unsummed = image.bytes;
    WriteUint32(&unsummed[image.headers.checksumField], 0);
    EXPECT_EQ(1, CheckSetup(WriteImage(unsummed)));
    EXPECT_NE(NONE, reason.find("image checksum is 0: nothing vouches")) << reason;
}

TEST_P(Check, NamesWhatAChangedPackageFolderNoLongerYields)
{
    const fs::path description = package / "package.txt";
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string text = ReadBytes(description);
        ASSERT_NE(NONE, text.find(from));
        WriteBytes(description, text.replace(text.find(from), from.size(), to));
    };
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] {
             std::string bytes = ReadBytes(package / "murm.chm");
             bytes[100] ^= 1;
             WriteBytes(package / "murm.chm", bytes);
         },
         "entry \"murm.chm\" differs from the package's at byte 100"},
        {[&] { WriteBytes(package / "Base2.vdb", ReadBytes(package / "Base2.vdb") + "x"); },
         "entry \"Base2.vdb\" differs from the package's at byte 48 (48 bytes in the setup, 49 "
         "in the package)"},
        {[&] { replace("file settings.ini\n", ""); },
         "entry \"settings.ini\" of the setup is not in the package"},
        {[&] { replace("file murm.chm\n", "file murm.chm\nfill 10 extra.bin\n"); },
         "entry \"extra.bin\" of the package is missing from the setup"},
        {[&] { replace("link uninst.exe | Удалить", "link uninst.exe | Убрать"); },
         "the group links differ from the package's at byte 39"},
        {[&] { replace("string uninst.exe", "string remove.exe"); },
         "the setup strings differ from the package's at byte 59"},
        {[&] { replace("name Murmelist", "name Murmelist 2"); },
         "the display name differs from the package's at byte 9"},
    };
    for (const auto& change : cases) {
        SCOPED_TRACE(change.second);
        fs::remove_all(package);
        fs::copy(built, package);
        change.first();
        EXPECT_EQ(1, CheckSetup(setup, package));
        EXPECT_EQ(0u, reason.find("pkgbuild: " + setup.string() + ": ")) << reason;
        EXPECT_NE(NONE, reason.find(change.second)) << reason;
        EXPECT_EQ(NONE, reason.find("checksum")) << reason;
    }
}

// Each refusal is one line from pkgbuild, not a crash (the sanitizers
// watch the reads).
TEST_P(Check, RefusesWhatIsNoReadableSetup)
{
    const std::string head(image.bytes.begin(), image.bytes.begin() + 300);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"", "not a PE32 or PE32+ image"},
        {"plain text\n", "not a PE32 or PE32+ image"},
        {head, "headers are cut short"},
    };
    for (const auto& file : files) {
        WriteBytes(root / "copy.exe", file.first);
        EXPECT_EQ(1, CheckSetup(root / "copy.exe"));
        EXPECT_EQ(output, reason + "\n");
        EXPECT_NE(NONE, reason.find(file.second)) << reason;
    }
    for (const fs::path& path : {root / "none.exe", root}) {
        EXPECT_EQ(1, CheckSetup(path));
        EXPECT_EQ(0u, reason.find("pkgbuild: " + path.string() + ": cannot read: ")) << reason;
    }

    // Counts that claim more than their resources hold, under a true
    // checksum: only the walk's own bounds stop it.
    Bytes claims = image.bytes;
    for (uint32_t id : {IDR_PAYLOAD, IDR_GROUP_LINKS}) {
        uint32_t offset, length;
        ASSERT_TRUE(FindPeResource(image.data(), image.size(), &image.headers, PE_RESOURCE_RCDATA,
                                   id, PE_ANY_LANGUAGE, &offset, &length));
        WriteUint32(&claims[offset + (id == IDR_PAYLOAD ? 4 : 0)], 0xFFFFFFFF);
    }
    uint32_t sum;
    ASSERT_TRUE(ComputeImageChecksum(claims.data(), (uint32_t)claims.size(), &sum));
    WriteUint32(&claims[image.headers.checksumField], sum);
    EXPECT_EQ(1, CheckSetup(WriteImage(claims), built));
    EXPECT_NE(NONE, reason.find("payload entry 6 of 4294967295 does not lie inside")) << reason;
    EXPECT_NE(NONE, reason.find("group link 3 of 4294967295 does not lie inside")) << reason;
    EXPECT_EQ(NONE, reason.find("checksum")) << reason;

    EXPECT_EQ(2, Run("--check"));
    EXPECT_NE(NONE, output.find("pkgbuild --check SETUP_EXE [PACKAGE_DIR]"));
    EXPECT_EQ(2, Run("--check a b c"));
}

INSTANTIATE_TEST_SUITE_P(Builds, Check, ::testing::ValuesIn(Builds()), BuildName);

}  // namespace
