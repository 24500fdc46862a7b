// pagealign IMAGE
//
// Moves the resource section of a linked 32-bit PE image to a page
// boundary of the file, in place.
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
// Refuses images it cannot rewrite safely: signed ones (the signature would
// break), ones with a COFF symbol table or debug data (file offsets inside
// them would go stale), and malformed ones. Same input, same output.
//
// Exit codes: 0 done (or nothing to do), 1 refused or an I/O error, 2 usage.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const uint32_t PAGE = 4096;
const uint32_t DOS_PE_OFFSET = 0x3C;
const uint32_t FILE_HEADER_SIZE = 20;
const uint32_t SECTION_HEADER_SIZE = 40;
const uint16_t PE32_MAGIC = 0x10B;
const int DIRECTORY_RESOURCE = 2;
const int DIRECTORY_SECURITY = 4;
const int DIRECTORY_DEBUG = 6;

// Offsets inside the PE32 optional header.
const uint32_t OPT_SIZE_OF_CODE = 4;
const uint32_t OPT_SIZE_OF_INITIALIZED = 8;
const uint32_t OPT_SECTION_ALIGNMENT = 32;
const uint32_t OPT_FILE_ALIGNMENT = 36;
const uint32_t OPT_SIZE_OF_HEADERS = 60;
const uint32_t OPT_CHECKSUM = 64;
const uint32_t OPT_DIRECTORY_COUNT = 92;
const uint32_t OPT_DIRECTORIES = 96;

// Offsets inside a section header.
const uint32_t SEC_VIRTUAL_SIZE = 8;
const uint32_t SEC_VIRTUAL_ADDRESS = 12;
const uint32_t SEC_RAW_SIZE = 16;
const uint32_t SEC_RAW_POINTER = 20;
const uint32_t SEC_CHARACTERISTICS = 36;
const uint32_t SCN_CODE = 0x20;
const uint32_t SCN_INITIALIZED = 0x40;

uint32_t Get16(const std::vector<uint8_t>& b, uint32_t at) { return b[at] | (b[at + 1] << 8); }

uint32_t Get32(const std::vector<uint8_t>& b, uint32_t at)
{
    return (uint32_t)b[at] | ((uint32_t)b[at + 1] << 8) | ((uint32_t)b[at + 2] << 16) |
           ((uint32_t)b[at + 3] << 24);
}

void Put32(std::vector<uint8_t>& b, uint32_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (uint8_t)(value >> (8 * i));
}

uint32_t RoundUp(uint32_t value, uint32_t unit) { return (value + unit - 1) / unit * unit; }

struct Section {
    uint32_t header;   // file offset of its section header
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawPointer;
    uint32_t rawSize;
    uint32_t growth;   // zero bytes to add behind its data
};

struct Image {
    std::vector<uint8_t> bytes;
    uint32_t optional;      // file offset of the optional header
    uint32_t sizeOfHeaders;
    uint32_t headerGrowth;
    uint32_t sectionAlignment;
    uint32_t fileAlignment;
    std::vector<Section> sections;  // in file order
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
    if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z')
        return Refuse("not a PE image (no MZ header)");
    uint32_t pe = Get32(b, DOS_PE_OFFSET);
    if (pe > b.size() || b.size() - pe < 4 + FILE_HEADER_SIZE ||
        std::memcmp(&b[pe], "PE\0\0", 4) != 0)
        return Refuse("not a PE image (no PE signature)");
    uint32_t fileHeader = pe + 4;
    uint32_t sectionCount = Get16(b, fileHeader + 2);
    uint32_t optionalSize = Get16(b, fileHeader + 16);
    if (Get32(b, fileHeader + 8) != 0 || Get32(b, fileHeader + 12) != 0)
        return Refuse("the image has a COFF symbol table; strip it first");
    image->optional = fileHeader + FILE_HEADER_SIZE;
    uint32_t table = image->optional + optionalSize;
    if (optionalSize < OPT_DIRECTORIES || table > b.size() ||
        (b.size() - table) / SECTION_HEADER_SIZE < sectionCount)
        return Refuse("truncated PE headers");
    if (Get16(b, image->optional) != PE32_MAGIC)
        return Refuse("not a 32-bit (PE32) image");

    uint32_t directories = Get32(b, image->optional + OPT_DIRECTORY_COUNT);
    if (directories > (optionalSize - OPT_DIRECTORIES) / 8)
        return Refuse("malformed data directories");
    auto directory = [&](int index, uint32_t* rva, uint32_t* size) {
        *rva = *size = 0;
        if ((uint32_t)index < directories) {
            *rva = Get32(b, image->optional + OPT_DIRECTORIES + 8 * index);
            *size = Get32(b, image->optional + OPT_DIRECTORIES + 8 * index + 4);
        }
    };
    uint32_t rva, size;
    directory(DIRECTORY_SECURITY, &rva, &size);
    if (rva || size)
        return Refuse("the image is signed; align it before signing");
    directory(DIRECTORY_DEBUG, &rva, &size);
    if (rva || size)
        return Refuse("the image has debug data; strip it first");

    image->sectionAlignment = Get32(b, image->optional + OPT_SECTION_ALIGNMENT);
    image->fileAlignment = Get32(b, image->optional + OPT_FILE_ALIGNMENT);
    image->sizeOfHeaders = Get32(b, image->optional + OPT_SIZE_OF_HEADERS);
    image->headerGrowth = 0;
    if (image->sectionAlignment % PAGE != 0 || image->fileAlignment == 0 ||
        PAGE % image->fileAlignment != 0)
        return Refuse("unusual alignments (section alignment must be whole pages)");
    if (image->sizeOfHeaders < table + sectionCount * SECTION_HEADER_SIZE ||
        image->sizeOfHeaders > b.size())
        return Refuse("malformed SizeOfHeaders");

    for (uint32_t i = 0; i < sectionCount; ++i) {
        uint32_t at = table + i * SECTION_HEADER_SIZE;
        Section s = {at, Get32(b, at + SEC_VIRTUAL_ADDRESS), Get32(b, at + SEC_VIRTUAL_SIZE),
                     Get32(b, at + SEC_RAW_POINTER), Get32(b, at + SEC_RAW_SIZE), 0};
        if (s.rawSize == 0)
            continue;  // no file data (uninitialised data): nothing to move
        if (s.rawPointer < image->sizeOfHeaders || s.rawPointer > b.size() ||
            b.size() - s.rawPointer < s.rawSize)
            return Refuse("a section's data lie outside the file");
        image->sections.push_back(s);
    }
    // File order; the data must follow each other without overlapping.
    std::vector<Section>& list = image->sections;
    for (size_t i = 1; i < list.size(); ++i)
        for (size_t j = i; j > 0 && list[j].rawPointer < list[j - 1].rawPointer; --j)
            std::swap(list[j], list[j - 1]);
    uint32_t end = image->sizeOfHeaders;
    for (const Section& s : list) {
        if (s.rawPointer < end)
            return Refuse("sections overlap in the file");
        end = s.rawPointer + s.rawSize;
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
    for (size_t i = resource; i-- > 0 && need > 0;) {
        Section& s = image->sections[i];
        uint32_t span = s.virtualSize ? s.virtualSize : s.rawSize;
        uint32_t room = Slack(s.rawSize, RoundUp(span, image->sectionAlignment),
                              image->fileAlignment);
        s.growth = room < need ? room : need;
        need -= s.growth;
    }
    if (need > 0) {
        // The headers are loaded below the lowest section.
        uint32_t lowest = 0xFFFFFFFFu;
        for (const Section& s : image->sections)
            lowest = s.virtualAddress < lowest ? s.virtualAddress : lowest;
        uint32_t room = Slack(image->sizeOfHeaders, lowest, image->fileAlignment);
        image->headerGrowth = room < need ? room : need;
        need -= image->headerGrowth;
    }
    if (need > 0)
        return Refuse("no room before the resource section to pad it to a page boundary");
    return true;
}

uint32_t Checksum(const std::vector<uint8_t>& b, uint32_t checksumAt)
{
    uint64_t sum = 0;
    for (uint32_t i = 0; i + 1 < b.size(); i += 2) {
        if (i == checksumAt || i == checksumAt + 2)
            continue;
        sum += Get16(b, i);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (b.size() % 2)
        sum += b.back();
    sum = (sum & 0xFFFF) + (sum >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)sum + (uint32_t)b.size();
}

std::vector<uint8_t> Rebuild(const Image& image)
{
    const std::vector<uint8_t>& b = image.bytes;
    std::vector<uint8_t> out(b.begin(), b.begin() + image.sizeOfHeaders);
    out.resize(out.size() + image.headerGrowth, 0);
    uint32_t from = image.sizeOfHeaders;
    uint32_t code = 0, initialized = 0;
    for (const Section& s : image.sections) {
        // Whatever lay between two sections (or behind the last) moves along.
        out.insert(out.end(), b.begin() + from, b.begin() + s.rawPointer);
        Put32(out, s.header + SEC_RAW_POINTER, (uint32_t)out.size());
        Put32(out, s.header + SEC_RAW_SIZE, s.rawSize + s.growth);
        out.insert(out.end(), b.begin() + s.rawPointer, b.begin() + s.rawPointer + s.rawSize);
        out.resize(out.size() + s.growth, 0);
        from = s.rawPointer + s.rawSize;
        uint32_t flags = Get32(b, s.header + SEC_CHARACTERISTICS);
        if (flags & SCN_CODE)
            code += s.rawSize + s.growth;
        else if (flags & SCN_INITIALIZED)
            initialized += s.rawSize + s.growth;
    }
    out.insert(out.end(), b.begin() + from, b.end());
    Put32(out, image.optional + OPT_SIZE_OF_HEADERS, image.sizeOfHeaders + image.headerGrowth);
    Put32(out, image.optional + OPT_SIZE_OF_CODE, code);
    Put32(out, image.optional + OPT_SIZE_OF_INITIALIZED, initialized);
    if (Get32(b, image.optional + OPT_CHECKSUM) != 0)
        Put32(out, image.optional + OPT_CHECKSUM, Checksum(out, image.optional + OPT_CHECKSUM));
    return out;
}

// Aligns the resource section of bytes; false with g_error set when refused.
bool AlignResources(std::vector<uint8_t>* bytes, uint32_t* padding)
{
    *padding = 0;
    Image image;
    image.bytes.swap(*bytes);
    bool ok = Parse(&image);
    size_t resource = image.sections.size();
    if (ok) {
        uint32_t count = Get32(image.bytes, image.optional + OPT_DIRECTORY_COUNT);
        uint32_t rva = count > (uint32_t)DIRECTORY_RESOURCE
                           ? Get32(image.bytes, image.optional + OPT_DIRECTORIES + 8 * DIRECTORY_RESOURCE)
                           : 0;
        for (size_t i = 0; rva && i < image.sections.size(); ++i) {
            const Section& s = image.sections[i];
            uint32_t span = s.virtualSize ? s.virtualSize : s.rawSize;
            if (rva >= s.virtualAddress && rva - s.virtualAddress < span)
                resource = i;
        }
    }
    if (ok && resource < image.sections.size()) {
        uint32_t at = image.sections[resource].rawPointer;
        uint32_t need = (PAGE - at % PAGE) % PAGE;
        if (need > 0) {
            ok = Plan(&image, resource, need);
            if (ok) {
                image.bytes = Rebuild(image);
                *padding = need;
            }
        }
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
    uint32_t padding = 0;
    if (!AlignResources(&bytes, &padding)) {
        std::fprintf(stderr, "pagealign: %s: %s\n", path, g_error.c_str());
        return 1;
    }
    if (padding == 0)
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
