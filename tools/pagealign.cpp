// pagealign IMAGE
//
// Moves the resource section of a linked PE image (32-bit PE32 or 64-bit
// PE32+) to a page boundary of the file, in place.
//
// Wine maps a section of an image straight from the file only when the
// section's data start on a page boundary of the file; any other section it
// reads into private memory when the image loads. The setup's payload lives
// in its resources, so with MinGW's 512-byte file alignment a 400 MB payload
// costs 400 MB of private memory and a full read before the first page
// shows. Linking with a 4096-byte file alignment would fix that, but pads
// every section of the file to a page, about 18 KiB on a 20 KiB program.
// This tool pads only as much as the resource section needs.
//
// The padding goes at the end of the sections that lie before the resource
// section in the file (or of the headers), each within its own last page, so
// the file keeps no gap between sections: every byte still belongs to the
// headers or to a section, which the signature's hash covers. Sections keep
// their addresses; only their file offsets move.
//
// The headers come first and are paid for in 512-byte blocks too. When
// that moves the resource section to an earlier page of the file, the
// headers are packed first: the DOS program that only prints that the file
// needs Windows is left out, the PE headers follow the DOS header directly,
// and the sections move forward by the blocks saved.
//
// The base relocations come last, in a section of their own that costs a
// header and the rest of its last 512-byte block. The loader finds them
// through their directory alone, wherever they lie; they are read-only
// data read once, as the code of the section before them (the code the
// setup seldom runs) is read-only. So they are folded in behind that
// section's data, which then share one last block.
//
// Then it sets the image's checksum, padded or not: the setup checks its own
// file against it, and the linker's sum is stale once anything moved.
//
// Refuses images it cannot rewrite safely: signed ones (the signature would
// break), ones with a COFF symbol table or debug data (file offsets inside
// them would go stale), and malformed ones. Same input, same output.
//
// Exit codes: 0 done (or nothing to do), 1 refused or an I/O error, 2 usage.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/package.h"
#include "tools/pe/pe_image.h"

namespace {

const uint32_t PAGE = 4096;
// The DOS header proper; what follows it up to the PE signature is the DOS
// program.
const uint32_t DOS_HEADER_SIZE = 64;

void Put16(std::vector<uint8_t>& b, uint32_t at, uint32_t value)
{
    b[at] = (uint8_t)value;
    b[at + 1] = (uint8_t)(value >> 8);
}

void Put32(std::vector<uint8_t>& b, uint32_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (uint8_t)(value >> (8 * i));
}

uint32_t RoundUp(uint32_t value, uint32_t unit) { return (value + unit - 1) / unit * unit; }

struct Section {
    PeSection pe;
    uint32_t growth;  // zero bytes to add behind its data
};

struct Image {
    std::vector<uint8_t> bytes;
    PeHeaders headers;
    uint32_t headerGrowth;
    std::vector<Section> sections;  // those with file data, in file order
};

std::string g_error;

bool Refuse(const std::string& why)
{
    g_error = why;
    return false;
}

bool Parse(Image* image)
{
    const std::vector<uint8_t>& b = image->bytes;
    PeHeaders& h = image->headers;
    if (b.size() > 0xFFFFFFFFu || !ReadPeHeaders(b.data(), (uint32_t)b.size(), &h))
        return Refuse("not a PE32 or PE32+ image, or its headers are cut short");
    if (h.symbolTable != 0 || h.symbolCount != 0)
        return Refuse("the image has a COFF symbol table; strip it first");
    const PeDirectory& security = h.directories[PE_DIRECTORY_SECURITY];
    if (security.rva || security.size)
        return Refuse("the image is signed; align it before signing");
    const PeDirectory& debug = h.directories[PE_DIRECTORY_DEBUG];
    if (debug.rva || debug.size)
        return Refuse("the image has debug data; strip it first");
    image->headerGrowth = 0;
    if (h.sectionAlignment % PAGE != 0 || h.fileAlignment == 0 || PAGE % h.fileAlignment != 0)
        return Refuse("unusual alignments (section alignment must be whole pages)");
    if (h.sizeOfHeaders < h.sectionTable + h.sectionCount * PE_SECTION_HEADER_SIZE ||
        h.sizeOfHeaders > b.size())
        return Refuse("malformed SizeOfHeaders");

    PeSection s;
    for (uint32_t i = 0; ReadPeSection(b.data(), (uint32_t)b.size(), &h, i, &s); ++i) {
        if (s.rawSize == 0)
            continue;  // no file data (uninitialised data): nothing to move
        if (s.rawPointer < h.sizeOfHeaders || s.rawPointer > b.size() ||
            b.size() - s.rawPointer < s.rawSize)
            return Refuse("a section's data lie outside the file");
        image->sections.push_back({s, 0});
    }
    // File order; the data must follow each other without overlapping.
    std::vector<Section>& list = image->sections;
    for (size_t i = 1; i < list.size(); ++i)
        for (size_t j = i; j > 0 && list[j].pe.rawPointer < list[j - 1].pe.rawPointer; --j)
            std::swap(list[j], list[j - 1]);
    uint32_t end = h.sizeOfHeaders;
    for (const Section& section : list) {
        if (section.pe.rawPointer < end)
            return Refuse("sections overlap in the file");
        end = section.pe.rawPointer + section.pe.rawSize;
    }
    return true;
}

// How many bytes (whole file-alignment units) may be added behind data of
// size bytes before they would reach limit, the end of their place in the
// loaded image.
uint32_t Slack(uint32_t size, uint32_t limit, uint32_t fileAlignment)
{
    return size < limit ? (limit - size) / fileAlignment * fileAlignment : 0;
}

// Chooses where the padding goes: behind the sections nearest the resource
// section first, then behind the headers. Everything behind a padded
// section moves along in the file, so any of them may take a share.
bool Plan(Image* image, size_t resource, uint32_t need)
{
    const PeHeaders& h = image->headers;
    for (size_t i = resource; i-- > 0 && need > 0;) {
        Section& s = image->sections[i];
        uint32_t span = s.pe.virtualSize ? s.pe.virtualSize : s.pe.rawSize;
        uint32_t room = Slack(s.pe.rawSize, RoundUp(span, h.sectionAlignment), h.fileAlignment);
        s.growth = room < need ? room : need;
        need -= s.growth;
    }
    if (need > 0) {
        // The headers are loaded below the lowest section.
        uint32_t lowest = 0xFFFFFFFFu;
        for (const Section& s : image->sections)
            lowest = s.pe.virtualAddress < lowest ? s.pe.virtualAddress : lowest;
        uint32_t room = Slack(h.sizeOfHeaders, lowest, h.fileAlignment);
        image->headerGrowth = room < need ? room : need;
        need -= image->headerGrowth;
    }
    if (need > 0)
        return Refuse("no room before the resource section to pad it to a page boundary");
    return true;
}

std::vector<uint8_t> Rebuild(const Image& image)
{
    const std::vector<uint8_t>& b = image.bytes;
    const PeHeaders& h = image.headers;
    std::vector<uint8_t> out(b.begin(), b.begin() + h.sizeOfHeaders);
    out.resize(out.size() + image.headerGrowth, 0);
    uint32_t from = h.sizeOfHeaders;
    uint32_t code = 0, initialized = 0;
    for (const Section& section : image.sections) {
        const PeSection& s = section.pe;
        // Whatever lay between two sections (or behind the last) moves along.
        out.insert(out.end(), b.begin() + from, b.begin() + s.rawPointer);
        Put32(out, s.header + PE_SECTION_RAW_POINTER, (uint32_t)out.size());
        Put32(out, s.header + PE_SECTION_RAW_SIZE, s.rawSize + section.growth);
        out.insert(out.end(), b.begin() + s.rawPointer, b.begin() + s.rawPointer + s.rawSize);
        out.resize(out.size() + section.growth, 0);
        from = s.rawPointer + s.rawSize;
        if (s.characteristics & PE_SECTION_CODE)
            code += s.rawSize + section.growth;
        else if (s.characteristics & PE_SECTION_INITIALIZED_DATA)
            initialized += s.rawSize + section.growth;
    }
    out.insert(out.end(), b.begin() + from, b.end());
    Put32(out, h.optionalHeader + PE_OPTIONAL_SIZE_OF_HEADERS, h.sizeOfHeaders + image.headerGrowth);
    Put32(out, h.optionalHeader + PE_OPTIONAL_SIZE_OF_CODE, code);
    Put32(out, h.optionalHeader + PE_OPTIONAL_SIZE_OF_INITIALIZED_DATA, initialized);
    return out;
}

// The resource section's index in image->sections, or their count when the
// image has none.
size_t FindResourceSection(const Image& image)
{
    PeSection found;
    const PeDirectory& directory = image.headers.directories[PE_DIRECTORY_RESOURCE];
    if (directory.rva && FindPeSection(image.bytes.data(), (uint32_t)image.bytes.size(),
                                       &image.headers, directory.rva, &found))
        for (size_t i = 0; i < image.sections.size(); ++i)
            if (image.sections[i].pe.header == found.header)
                return i;
    return image.sections.size();
}

// Packs the headers behind the DOS header when that brings the resource
// section (file offset at) onto an earlier page; true when it did.
bool PackHeaders(Image* image, uint32_t at)
{
    const PeHeaders& h = image->headers;
    const uint32_t pe = ReadUint32(image->bytes.data() + PE_SIGNATURE_POINTER);
    const uint32_t tableEnd = h.sectionTable + h.sectionCount * PE_SECTION_HEADER_SIZE;
    if (pe < DOS_HEADER_SIZE || tableEnd < pe)
        return false;
    const uint32_t packed = RoundUp(DOS_HEADER_SIZE + (tableEnd - pe), h.fileAlignment);
    if (packed >= h.sizeOfHeaders ||
        RoundUp(at - (h.sizeOfHeaders - packed), PAGE) >= RoundUp(at, PAGE))
        return false;
    const std::vector<uint8_t>& b = image->bytes;
    std::vector<uint8_t> out(b.begin(), b.begin() + DOS_HEADER_SIZE);
    out.insert(out.end(), b.begin() + pe, b.begin() + tableEnd);
    out.resize(packed, 0);
    out.insert(out.end(), b.begin() + h.sizeOfHeaders, b.end());
    const uint32_t moved = pe - DOS_HEADER_SIZE, saved = h.sizeOfHeaders - packed;
    Put32(out, PE_SIGNATURE_POINTER, DOS_HEADER_SIZE);
    Put32(out, h.optionalHeader - moved + PE_OPTIONAL_SIZE_OF_HEADERS, packed);
    for (const Section& section : image->sections)
        Put32(out, section.pe.header - moved + PE_SECTION_RAW_POINTER,
              section.pe.rawPointer - saved);
    image->bytes.swap(out);
    return true;
}

// Folds the base relocations into the section before them (see the top);
// true when it did. Only where they are the whole of the last section, in
// the table, the file and the image, nothing else points into it, and the
// section before is neither writable nor followed by a gap in the image.
bool FoldRelocations(Image* image)
{
    const PeHeaders& h = image->headers;
    const PeDirectory relocations = h.directories[PE_DIRECTORY_BASERELOC];
    const std::vector<Section>& list = image->sections;
    if (!relocations.rva || !relocations.size || list.size() < 2)
        return false;
    const PeSection last = list.back().pe, before = list[list.size() - 2].pe;
    std::vector<uint8_t>& b = image->bytes;
    if (last.header != h.sectionTable + (h.sectionCount - 1u) * PE_SECTION_HEADER_SIZE ||
        relocations.rva != last.virtualAddress || relocations.size > last.rawSize ||
        relocations.size > last.virtualSize || last.rawPointer + last.rawSize != b.size() ||
        before.virtualAddress + RoundUp(before.virtualSize, h.sectionAlignment) !=
            last.virtualAddress ||
        (before.characteristics & PE_SECTION_WRITE))
        return false;
    for (int i = 0; i < PE_DIRECTORY_SLOTS; ++i) {
        const PeDirectory& d = h.directories[i];
        if (i != PE_DIRECTORY_BASERELOC && i != PE_DIRECTORY_SECURITY && d.rva >= last.virtualAddress &&
            d.rva < last.virtualAddress + last.virtualSize)
            return false;
    }
    const std::vector<uint8_t> data(b.begin() + last.rawPointer,
                                    b.begin() + last.rawPointer + relocations.size);
    // Behind the section's data, 4-aligned as the blocks want; what lay
    // between its raw end and there is zero in the image too.
    const uint32_t at = RoundUp(before.virtualSize, 4);
    const uint32_t kept = before.rawSize < at ? before.rawSize : at;
    b.resize(before.rawPointer + kept);
    b.resize(before.rawPointer + at, 0);
    b.insert(b.end(), data.begin(), data.end());
    const uint32_t size = at + relocations.size;
    b.resize(before.rawPointer + RoundUp(size, h.fileAlignment), 0);
    Put32(b, before.header + PE_SECTION_VIRTUAL_SIZE, size);
    Put32(b, before.header + PE_SECTION_RAW_SIZE, RoundUp(size, h.fileAlignment));
    std::fill(b.begin() + last.header, b.begin() + last.header + PE_SECTION_HEADER_SIZE, 0);
    Put16(b, h.optionalHeader - PE_FILE_HEADER_SIZE + PE_FILE_SECTION_COUNT,
          h.sectionCount - 1u);
    Put32(b, h.optionalHeader + PE_OPTIONAL_SIZE_OF_IMAGE,
          RoundUp(before.virtualAddress + size, h.sectionAlignment));
    const uint32_t directory = h.optionalHeader +
        (h.magic == PE_MAGIC_PE32 ? PE32_DIRECTORIES : PE32_PLUS_DIRECTORIES) +
        PE_DIRECTORY_BASERELOC * 8;
    Put32(b, directory, before.virtualAddress + at);
    // The relocations counted as initialised data; now they are code's.
    uint32_t code = 0, initialized = 0;
    for (size_t i = 0; i + 1 < list.size(); ++i) {
        const PeSection& s = list[i].pe;
        uint32_t raw = i + 2 == list.size() ? RoundUp(size, h.fileAlignment) : s.rawSize;
        if (s.characteristics & PE_SECTION_CODE)
            code += raw;
        else if (s.characteristics & PE_SECTION_INITIALIZED_DATA)
            initialized += raw;
    }
    Put32(b, h.optionalHeader + PE_OPTIONAL_SIZE_OF_CODE, code);
    Put32(b, h.optionalHeader + PE_OPTIONAL_SIZE_OF_INITIALIZED_DATA, initialized);
    return true;
}

// Aligns the resource section of bytes and sets the image's checksum, which
// the setup checks its own file against; false with g_error set when
// refused, and then the bytes are not to be written. *changed says whether
// they differ from the file's.
bool AlignResources(std::vector<uint8_t>* bytes, bool* changed)
{
    *changed = false;
    Image image;
    image.bytes.swap(*bytes);
    bool ok = Parse(&image);
    size_t resource = ok ? FindResourceSection(image) : 0;
    if (ok && resource < image.sections.size() &&
        PackHeaders(&image, image.sections[resource].pe.rawPointer)) {
        *changed = true;
        image.sections.clear();
        ok = Parse(&image);
        resource = ok ? FindResourceSection(image) : 0;
    }
    if (ok && resource < image.sections.size()) {
        uint32_t at = image.sections[resource].pe.rawPointer;
        uint32_t need = (PAGE - at % PAGE) % PAGE;
        if (need > 0) {
            ok = Plan(&image, resource, need);
            if (ok) {
                image.bytes = Rebuild(image);
                *changed = true;
            }
        }
    }
    if (ok) {
        image.sections.clear();
        ok = Parse(&image);
        if (ok && FoldRelocations(&image))
            *changed = true;
    }
    uint32_t checksum;
    if (ok && ComputeImageChecksum(image.bytes.data(), (uint32_t)image.bytes.size(), &checksum) &&
        checksum != image.headers.checksum) {
        Put32(image.bytes, image.headers.checksumField, checksum);
        *changed = true;
    }
    bytes->swap(image.bytes);
    return ok;
}

bool ReadFile(const char* path, std::vector<uint8_t>* bytes)
{
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    uint8_t buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->insert(bytes->end(), buffer, buffer + got);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pagealign IMAGE\n"
                             "Moves the resource section of a PE image to a page boundary of\n"
                             "the file, so that the loader maps it instead of reading it.\n");
        return 2;
    }
    const char* path = argv[1];
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, &bytes)) {
        std::fprintf(stderr, "pagealign: cannot read %s\n", path);
        return 1;
    }
    bool changed = false;
    if (!AlignResources(&bytes, &changed)) {
        std::fprintf(stderr, "pagealign: %s: %s\n", path, g_error.c_str());
        return 1;
    }
    if (!changed)
        return 0;
    // Replace the file only once the new one is complete.
    std::string temp = std::string(path) + ".tmp";
    if (!WriteFile(temp, bytes) || std::rename(temp.c_str(), path) != 0) {
        std::remove(temp.c_str());
        std::fprintf(stderr, "pagealign: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
