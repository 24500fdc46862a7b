// PE images read from their bytes; bounded like the package readers.
#include "pe_image.h"
#include "core/package.h"

static uint32_t Read16(const unsigned char* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8);
}

// Optional-header fields that PE32 and PE32+ keep in the same place; the
// 64-bit stack and heap sizes of PE32+ move the directory count.
const uint32_t OPTIONAL_SECTION_ALIGNMENT = 32;
const uint32_t OPTIONAL_FILE_ALIGNMENT = 36;
const uint32_t OPTIONAL_SIZE_OF_IMAGE = 56;
const uint32_t OPTIONAL_SUBSYSTEM = 68;
const uint32_t OPTIONAL_DLL_CHARACTERISTICS = 70;
const uint32_t PE32_DIRECTORY_COUNT = 92;
const uint32_t PE32_PLUS_DIRECTORY_COUNT = 108;

const uint32_t IMPORT_DESCRIPTOR_SIZE = 20;
const uint32_t IMPORT_NAME = 12;
const uint32_t RELOCATION_BLOCK_HEADER = 8;
const uint32_t RESOURCE_DIRECTORY_SIZE = 16;
const uint32_t RESOURCE_ENTRY_SIZE = 8;
const uint32_t RESOURCE_DATA_ENTRY_SIZE = 16;
const uint32_t RESOURCE_SUBDIRECTORY = 0x80000000u;

bool ReadPeHeaders(const unsigned char* data, uint32_t size, PeHeaders* headers)
{
    uint32_t field;
    if (!FindChecksumField(data, size, &field))
        return false;
    const uint32_t pe = field - PE_OPTIONAL_CHECKSUM - PE_OPTIONAL_HEADER_OFFSET;
    const unsigned char* file = data + pe + PE_FILE_HEADER_OFFSET;
    const uint32_t optional = pe + PE_OPTIONAL_HEADER_OFFSET;
    const uint32_t optionalSize = Read16(file + 16);
    if (optionalSize > size - optional)
        return false;
    const unsigned char* o = data + optional;
    const uint32_t magic = Read16(o);
    uint32_t countAt;
    if (magic == PE_MAGIC_PE32)
        countAt = PE32_DIRECTORY_COUNT;
    else if (magic == PE_MAGIC_PE32_PLUS)
        countAt = PE32_PLUS_DIRECTORY_COUNT;
    else
        return false;
    if (optionalSize < countAt + 4)
        return false;
    const uint32_t count = ReadUint32(o + countAt);
    if (count > (optionalSize - countAt - 4) / 8)
        return false;
    const uint32_t table = optional + optionalSize;
    const uint32_t sectionCount = Read16(file + 2);
    if ((size - table) / PE_SECTION_HEADER_SIZE < sectionCount)
        return false;

    headers->machine = (uint16_t)Read16(file);
    headers->sectionCount = (uint16_t)sectionCount;
    headers->timeStamp = ReadUint32(file + 4);
    headers->symbolTable = ReadUint32(file + 8);
    headers->symbolCount = ReadUint32(file + 12);
    headers->characteristics = (uint16_t)Read16(file + 18);
    headers->magic = (uint16_t)magic;
    headers->sectionAlignment = ReadUint32(o + OPTIONAL_SECTION_ALIGNMENT);
    headers->fileAlignment = ReadUint32(o + OPTIONAL_FILE_ALIGNMENT);
    headers->sizeOfImage = ReadUint32(o + OPTIONAL_SIZE_OF_IMAGE);
    headers->sizeOfHeaders = ReadUint32(o + PE_OPTIONAL_SIZE_OF_HEADERS);
    headers->checksum = ReadUint32(o + PE_OPTIONAL_CHECKSUM);
    headers->subsystem = (uint16_t)Read16(o + OPTIONAL_SUBSYSTEM);
    headers->dllCharacteristics = (uint16_t)Read16(o + OPTIONAL_DLL_CHARACTERISTICS);
    for (uint32_t i = 0; i < (uint32_t)PE_DIRECTORY_SLOTS; ++i) {
        const unsigned char* slot = o + countAt + 4 + 8 * i;
        headers->directories[i].rva = i < count ? ReadUint32(slot) : 0;
        headers->directories[i].size = i < count ? ReadUint32(slot + 4) : 0;
    }
    headers->optionalHeader = optional;
    headers->checksumField = field;
    headers->sectionTable = table;
    return true;
}

bool ReadPeSection(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                   uint32_t index, PeSection* section)
{
    // Checked again: the headers may have come from other bytes.
    if (index >= headers->sectionCount || headers->sectionTable > size ||
        (size - headers->sectionTable) / PE_SECTION_HEADER_SIZE <= index)
        return false;
    const uint32_t at = headers->sectionTable + index * PE_SECTION_HEADER_SIZE;
    const unsigned char* h = data + at;
    for (int i = 0; i < 8; ++i)
        section->name[i] = (char)h[i];
    section->name[8] = 0;
    section->virtualSize = ReadUint32(h + 8);
    section->virtualAddress = ReadUint32(h + 12);
    section->rawSize = ReadUint32(h + PE_SECTION_RAW_SIZE);
    section->rawPointer = ReadUint32(h + PE_SECTION_RAW_POINTER);
    section->characteristics = ReadUint32(h + 36);
    section->header = at;
    return true;
}

bool FindPeSection(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                   uint32_t rva, PeSection* section)
{
    for (uint32_t i = 0; ReadPeSection(data, size, headers, i, section); ++i) {
        const uint32_t span = section->virtualSize ? section->virtualSize : section->rawSize;
        if (rva >= section->virtualAddress && rva - section->virtualAddress < span)
            return true;
    }
    return false;
}

// The file offset of rva and how many bytes of its section's raw data
// follow it inside the file.
static bool MapPeRvaSpan(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                         uint32_t rva, uint32_t* offset, uint32_t* available)
{
    PeSection section;
    if (!FindPeSection(data, size, headers, rva, &section))
        return false;
    const uint32_t within = rva - section.virtualAddress;
    if (within > section.rawSize || section.rawPointer > size ||
        within > size - section.rawPointer)
        return false;
    *offset = section.rawPointer + within;
    const uint32_t inSection = section.rawSize - within;
    const uint32_t inFile = size - *offset;
    *available = inSection < inFile ? inSection : inFile;
    return true;
}

bool MapPeRva(const unsigned char* data, uint32_t size, const PeHeaders* headers, uint32_t rva,
              uint32_t length, uint32_t* offset)
{
    uint32_t available;
    return MapPeRvaSpan(data, size, headers, rva, offset, &available) && length <= available;
}

bool WalkPeImports(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                   PeImportVisitor visit, void* context)
{
    const PeDirectory* imports = &headers->directories[PE_DIRECTORY_IMPORT];
    if (imports->rva == 0)
        return true;
    // The descriptors run on to one whose name is 0, inside their section.
    uint32_t table, available;
    if (!MapPeRvaSpan(data, size, headers, imports->rva, &table, &available))
        return false;
    for (uint32_t at = 0; available - at >= IMPORT_DESCRIPTOR_SIZE; at += IMPORT_DESCRIPTOR_SIZE) {
        const uint32_t nameRva = ReadUint32(data + table + at + IMPORT_NAME);
        if (nameRva == 0)
            return true;
        uint32_t name, room;
        if (!MapPeRvaSpan(data, size, headers, nameRva, &name, &room))
            return false;
        uint32_t length = 0;
        while (length < room && data[name + length] != 0)
            ++length;
        if (length == room)
            return false;
        if (!visit((const char*)(data + name), context))
            return true;
    }
    return false;
}

bool WalkPeRelocations(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                       PeRelocationVisitor visit, void* context)
{
    const PeDirectory* relocations = &headers->directories[PE_DIRECTORY_BASERELOC];
    if (relocations->size == 0)
        return true;
    uint32_t table;
    if (!MapPeRva(data, size, headers, relocations->rva, relocations->size, &table))
        return false;
    for (uint32_t at = 0; at < relocations->size;) {
        if (relocations->size - at < RELOCATION_BLOCK_HEADER)
            return false;
        const unsigned char* block = data + table + at;
        const uint32_t blockSize = ReadUint32(block + 4);
        if (blockSize < RELOCATION_BLOCK_HEADER || blockSize > relocations->size - at)
            return false;
        if (!visit(ReadUint32(block), block + RELOCATION_BLOCK_HEADER,
                   (blockSize - RELOCATION_BLOCK_HEADER) / 2, context))
            return true;
        at += blockSize;
    }
    return true;
}

// The resource tree: a directory of types, each a directory of names, each
// a directory of languages whose entries lead to the data. Offsets in it
// count from the root, and the whole tree lies in the root's section.
struct ResourceWalk {
    const unsigned char* data;
    uint32_t size;
    const PeHeaders* headers;
    uint32_t root;       // file offset of the root directory
    uint32_t treeSize;   // bytes from the root to the end of its section
    // Entries that may still be visited. A sound tree has each entry once;
    // one whose directories share entries or point back at themselves would
    // be walked without end.
    uint32_t budget;
    PeResource resource;
    PeResourceVisitor visit;
    void* context;
    bool stopped;
};

static bool ReadResourceName(const ResourceWalk* walk, uint32_t field, PeResourceName* name)
{
    if (!(field & RESOURCE_SUBDIRECTORY)) {
        if (field > 0xFFFF)
            return false;
        name->text = 0;
        name->length = 0;
        name->id = field;
        return true;
    }
    const uint32_t at = field & ~RESOURCE_SUBDIRECTORY;
    if (at > walk->treeSize || walk->treeSize - at < 2)
        return false;
    const unsigned char* text = walk->data + walk->root + at;
    const uint32_t length = Read16(text);
    if (length > (walk->treeSize - at - 2) / 2)
        return false;
    name->text = text + 2;
    name->length = length;
    name->id = 0;
    return true;
}

// level 0 lists the types, 1 the names, 2 the languages.
static bool WalkResourceDirectory(ResourceWalk* walk, uint32_t at, int level)
{
    if (at > walk->treeSize || walk->treeSize - at < RESOURCE_DIRECTORY_SIZE)
        return false;
    const unsigned char* directory = walk->data + walk->root + at;
    const uint32_t count = Read16(directory + 12) + Read16(directory + 14);
    if (count > (walk->treeSize - at - RESOURCE_DIRECTORY_SIZE) / RESOURCE_ENTRY_SIZE)
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (walk->budget == 0)
            return false;
        --walk->budget;
        const unsigned char* entry = directory + RESOURCE_DIRECTORY_SIZE + i * RESOURCE_ENTRY_SIZE;
        const uint32_t target = ReadUint32(entry + 4);
        const bool isDirectory = (target & RESOURCE_SUBDIRECTORY) != 0;
        PeResourceName name;
        if (!ReadResourceName(walk, ReadUint32(entry), &name) || isDirectory != (level < 2))
            return false;
        if (level < 2) {
            if (level == 0)
                walk->resource.type = name;
            else
                walk->resource.name = name;
            if (!WalkResourceDirectory(walk, target & ~RESOURCE_SUBDIRECTORY, level + 1))
                return false;
            if (walk->stopped)
                return true;
            continue;
        }
        if (name.text || target > walk->treeSize ||
            walk->treeSize - target < RESOURCE_DATA_ENTRY_SIZE)
            return false;
        const unsigned char* dataEntry = walk->data + walk->root + target;
        PeResource* resource = &walk->resource;
        resource->language = name.id;
        resource->size = ReadUint32(dataEntry + 4);
        resource->codePage = ReadUint32(dataEntry + 8);
        if (!MapPeRva(walk->data, walk->size, walk->headers, ReadUint32(dataEntry), resource->size,
                      &resource->offset))
            return false;
        if (!walk->visit(resource, walk->context)) {
            walk->stopped = true;
            return true;
        }
    }
    return true;
}

bool WalkPeResources(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                     PeResourceVisitor visit, void* context)
{
    const PeDirectory* resources = &headers->directories[PE_DIRECTORY_RESOURCE];
    if (resources->rva == 0)
        return true;
    ResourceWalk walk;
    if (!MapPeRvaSpan(data, size, headers, resources->rva, &walk.root, &walk.treeSize))
        return false;
    walk.data = data;
    walk.size = size;
    walk.headers = headers;
    walk.budget = walk.treeSize / RESOURCE_ENTRY_SIZE;
    walk.visit = visit;
    walk.context = context;
    walk.stopped = false;
    return WalkResourceDirectory(&walk, 0, 0);
}

struct ResourceQuery {
    uint32_t type;
    uint32_t id;
    uint32_t language;
    bool found;
    uint32_t offset;
    uint32_t size;
};

static bool MatchResource(const PeResource* resource, void* context)
{
    ResourceQuery* query = (ResourceQuery*)context;
    if (resource->type.text || resource->type.id != query->type || resource->name.text ||
        resource->name.id != query->id ||
        (query->language != PE_ANY_LANGUAGE && resource->language != query->language))
        return true;
    query->found = true;
    query->offset = resource->offset;
    query->size = resource->size;
    return false;
}

bool FindPeResource(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                    uint32_t type, uint32_t id, uint32_t language, uint32_t* offset,
                    uint32_t* length)
{
    ResourceQuery query = {type, id, language, false, 0, 0};
    if (!WalkPeResources(data, size, headers, MatchResource, &query) || !query.found)
        return false;
    *offset = query.offset;
    *length = query.size;
    return true;
}
