// Writes the setup's four data resources from a Package, or, when a built
// setup is checked, compares the bytes it would write with the setup's.
#include "pkgbuild.h"

#include "core/package.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

// Period of the bytes of a "fill" entry: prime, so that a block copied to
// the wrong place of a large file shows.
const unsigned FILL_PERIOD = 251;

static std::vector<fs::path> g_tempFiles;

// Fail calls this, so that a build that stops part way leaves no
// temporary file behind.
void RemoveTempFiles()
{
    for (const fs::path& path : g_tempFiles) {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    g_tempFiles.clear();
}

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

Output CompareWith(const unsigned char* bytes, uint32_t size)
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
uint64_t FirstDifference(const Output* out)
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

void WriteEntryHeader(Output* out, const PayloadFile& file)
{
    unsigned char field[ENTRY_NAME_SIZE] = {0};
    std::memcpy(field, file.name.data(), file.name.size());
    Write(out, field, sizeof field);
    WriteNumber(out, (uint32_t)file.size);
}

void CopyEntryBytes(Output* out, const PayloadFile& file)
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

void WriteLinks(Output* out, const Package& package)
{
    WriteNumber(out, (uint32_t)package.links.size());
    for (const GroupLink& link : package.links) {
        WriteString(out, link.target);
        WriteString(out, link.name);
    }
}

void WriteSetupStrings(Output* out, const Package& package)
{
    for (const std::string& text : package.strings)
        WriteString(out, text);
}

void WriteDisplayName(Output* out, const Package& package)
{
    WriteString(out, package.displayName);
}

void WritePackage(const Package& package, uint32_t total, const fs::path& folder)
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
