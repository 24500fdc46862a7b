// Any bytes as a PE image, read as the host checks and the benchmark read
// setup.exe: whatever a reader hands out (a name, a relocation block, a
// resource's data) lies inside the buffer, a file offset it maps covers the
// bytes asked for, and finding a resource agrees with walking the tree.
#include "tools/pe/pe_image.h"
#include "fuzz_check.h"

#include <cstring>

namespace {

struct Buffer {
    const unsigned char* data;
    uint32_t size;
    uint32_t visits;  // a walk visits no more than the buffer could hold
};

bool Inside(const Buffer* buffer, const unsigned char* p, uint32_t size)
{
    return p >= buffer->data && p <= buffer->data + buffer->size &&
           buffer->data + buffer->size - p >= size;
}

bool CheckImport(const char* dll, void* context)
{
    Buffer* buffer = (Buffer*)context;
    const unsigned char* name = (const unsigned char*)dll;
    FUZZ_CHECK(Inside(buffer, name, 1));
    FUZZ_CHECK(std::memchr(name, 0, buffer->data + buffer->size - name));
    FUZZ_CHECK(++buffer->visits <= buffer->size);
    return true;
}

bool CheckBlock(uint32_t, const unsigned char* entries, uint32_t count, void* context)
{
    Buffer* buffer = (Buffer*)context;
    FUZZ_CHECK(Inside(buffer, entries, 2 * count));
    TouchRange(entries, 2 * count);
    FUZZ_CHECK(++buffer->visits <= buffer->size);
    return true;
}

void CheckName(const Buffer* buffer, const PeResourceName& name)
{
    if (name.text) {
        FUZZ_CHECK(Inside(buffer, name.text, 2 * name.length));
        TouchRange(name.text, 2 * name.length);
    } else {
        FUZZ_CHECK(name.id <= 0xFFFF);
    }
}

struct FirstResource {
    Buffer* buffer;
    bool found;
    PeResource resource;
};

bool CheckResource(const PeResource* resource, void* context)
{
    FirstResource* first = (FirstResource*)context;
    Buffer* buffer = first->buffer;
    FUZZ_CHECK(resource->offset <= buffer->size && buffer->size - resource->offset >= resource->size);
    TouchRange(buffer->data + resource->offset, resource->size);
    CheckName(buffer, resource->type);
    CheckName(buffer, resource->name);
    FUZZ_CHECK(++buffer->visits <= buffer->size);
    if (!first->found && !resource->type.text && !resource->name.text) {
        first->found = true;
        first->resource = *resource;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t length)
{
    if (length > 0xFFFFFFFFu)
        return 0;
    const uint32_t size = (uint32_t)length;
    uint32_t checksum, field;
    const bool hasField = FindChecksumField(data, size, &field);
    FUZZ_CHECK(ComputeImageChecksum(data, size, &checksum) == hasField);
    PeHeaders headers;
    if (!ReadPeHeaders(data, size, &headers))
        return 0;
    FUZZ_CHECK(hasField && headers.checksumField == field);
    FUZZ_CHECK(headers.sectionTable + headers.sectionCount * PE_SECTION_HEADER_SIZE <= size);

    PeSection section, found;
    for (uint32_t i = 0; ReadPeSection(data, size, &headers, i, &section); ++i) {
        FUZZ_CHECK(i < headers.sectionCount);
        FUZZ_CHECK(section.header == headers.sectionTable + i * PE_SECTION_HEADER_SIZE);
        FUZZ_CHECK(std::strlen(section.name) <= 8);
        uint32_t offset;
        if (MapPeRva(data, size, &headers, section.virtualAddress, section.rawSize, &offset)) {
            FUZZ_CHECK(offset <= size && size - offset >= section.rawSize);
            TouchRange(data + offset, section.rawSize);
        }
        // The section found holds the address, and a section that holds
        // its own start is found or one before it.
        const uint32_t span = section.virtualSize ? section.virtualSize : section.rawSize;
        if (FindPeSection(data, size, &headers, section.virtualAddress, &found)) {
            const uint32_t foundSpan = found.virtualSize ? found.virtualSize : found.rawSize;
            FUZZ_CHECK(section.virtualAddress - found.virtualAddress < foundSpan);
            FUZZ_CHECK(span == 0 || found.header <= section.header);
        } else {
            FUZZ_CHECK(span == 0);
        }
    }

    Buffer buffer = {data, size, 0};
    WalkPeImports(data, size, &headers, CheckImport, &buffer);
    buffer.visits = 0;
    WalkPeRelocations(data, size, &headers, CheckBlock, &buffer);
    buffer.visits = 0;
    FirstResource first = {&buffer, false, {}};
    const bool sound = WalkPeResources(data, size, &headers, CheckResource, &first);
    if (sound && first.found) {
        uint32_t offset, length;
        FUZZ_CHECK(FindPeResource(data, size, &headers, first.resource.type.id,
                                  first.resource.name.id, first.resource.language, &offset,
                                  &length));
        FUZZ_CHECK(offset == first.resource.offset && length == first.resource.size);
    }
    return 0;
}
