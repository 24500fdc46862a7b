// The package builder run as the build runs it, its output read back with
// the setup's own readers; and every package it must refuse.
#include "core/package.h"

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

}  // namespace
