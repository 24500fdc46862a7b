// The PE reader: headers, sections, resources, imports and relocations of
// an image, read from its bytes. The setup does not carry it; the package
// builder's check, the aligner, the host tests, the end-to-end tests that
// damage a setup, the benchmark and a fuzz target read setup.exe with it.
//
// Portable like core/package.h: no windows.h and no library beyond the
// freestanding headers, so that it builds for the host and for Windows.
// Every reader takes the size of what it reads and never touches a byte
// outside it.
#ifndef MURM_PE_IMAGE_H
#define MURM_PE_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#include "core/checksum.h"

// The headers, sections, resources, imports and base relocations of an
// image, read from the whole file's size bytes at data. No reader
// allocates: results go into the caller's structures or to a visitor, and
// what they point at lies inside [data, data + size). A malformed image
// makes a reader return false.

const uint16_t PE_MACHINE_I386 = 0x014C;
const uint16_t PE_MACHINE_AMD64 = 0x8664;
const uint16_t PE_MAGIC_PE32 = 0x010B;
const uint16_t PE_MAGIC_PE32_PLUS = 0x020B;

// File header characteristics.
const uint16_t PE_FILE_RELOCS_STRIPPED = 0x0001;
const uint16_t PE_FILE_EXECUTABLE_IMAGE = 0x0002;
const uint16_t PE_FILE_32BIT_MACHINE = 0x0100;
const uint16_t PE_FILE_DLL = 0x2000;

const uint16_t PE_SUBSYSTEM_WINDOWS_GUI = 2;
// DllCharacteristics.
const uint16_t PE_DLL_DYNAMIC_BASE = 0x0040;
const uint16_t PE_DLL_NX_COMPAT = 0x0100;
const uint16_t PE_DLL_TERMINAL_SERVER_AWARE = 0x8000;

// The file header, which the optional header follows, and its section count.
const uint32_t PE_FILE_HEADER_SIZE = 20;
const uint32_t PE_FILE_SECTION_COUNT = 2;
// Where the data directories start in each optional header.
const uint32_t PE32_DIRECTORIES = 96;
const uint32_t PE32_PLUS_DIRECTORIES = 112;
// Fields at the same place of the optional header in PE32 and PE32+, for
// tools that rewrite them.
const uint32_t PE_OPTIONAL_SIZE_OF_CODE = 4;
const uint32_t PE_OPTIONAL_SIZE_OF_INITIALIZED_DATA = 8;
const uint32_t PE_OPTIONAL_SIZE_OF_IMAGE = 56;
const uint32_t PE_OPTIONAL_SIZE_OF_HEADERS = 60;
// And in a section header.
const uint32_t PE_SECTION_HEADER_SIZE = 40;
const uint32_t PE_SECTION_VIRTUAL_SIZE = 8;
const uint32_t PE_SECTION_RAW_SIZE = 16;
const uint32_t PE_SECTION_RAW_POINTER = 20;

// Section characteristics.
const uint32_t PE_SECTION_CODE = 0x00000020;
const uint32_t PE_SECTION_INITIALIZED_DATA = 0x00000040;
const uint32_t PE_SECTION_EXECUTE = 0x20000000;
const uint32_t PE_SECTION_WRITE = 0x80000000;

// Data directories.
const int PE_DIRECTORY_SLOTS = 16;
const int PE_DIRECTORY_IMPORT = 1;
const int PE_DIRECTORY_RESOURCE = 2;
const int PE_DIRECTORY_SECURITY = 4;  // its address is a file offset
const int PE_DIRECTORY_BASERELOC = 5;
const int PE_DIRECTORY_DEBUG = 6;
const int PE_DIRECTORY_DELAY_IMPORT = 13;

// Base relocation types (the high 4 bits of an entry).
const uint32_t PE_RELOCATION_ABSOLUTE = 0;  // padding
const uint32_t PE_RELOCATION_HIGHLOW = 3;
const uint32_t PE_RELOCATION_DIR64 = 10;

// Resource types.
const uint32_t PE_RESOURCE_ICON = 3;
const uint32_t PE_RESOURCE_DIALOG = 5;
const uint32_t PE_RESOURCE_RCDATA = 10;
const uint32_t PE_RESOURCE_GROUP_ICON = 14;
const uint32_t PE_RESOURCE_MANIFEST = 24;

struct PeDirectory {
    uint32_t rva;
    uint32_t size;
};

struct PeHeaders {
    uint16_t machine;
    uint16_t sectionCount;
    uint32_t timeStamp;
    uint32_t symbolTable;  // file offset of a COFF symbol table, 0 for none
    uint32_t symbolCount;
    uint16_t characteristics;
    uint16_t magic;
    uint32_t sectionAlignment;
    uint32_t fileAlignment;
    uint32_t sizeOfImage;
    uint32_t sizeOfHeaders;
    uint32_t checksum;
    uint16_t subsystem;
    uint16_t dllCharacteristics;
    // The slots the image does not have are zero.
    PeDirectory directories[PE_DIRECTORY_SLOTS];
    // File offsets.
    uint32_t optionalHeader;
    uint32_t checksumField;
    uint32_t sectionTable;
};

// False unless the DOS header, PE signature, file header, a PE32 or PE32+
// optional header with its data directories, and the whole section table
// lie inside the size bytes.
bool ReadPeHeaders(const unsigned char* data, uint32_t size, PeHeaders* headers);

struct PeSection {
    char name[9];  // NUL-terminated
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawPointer;
    uint32_t characteristics;
    uint32_t header;  // file offset of its section header
};

// Section index of the table; false past the last one. The section's raw
// data are as the header says: ReadPeSection does not vouch that they lie
// inside the file.
bool ReadPeSection(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                   uint32_t index, PeSection* section);

// The section whose place in the loaded image (its virtual size, or its raw
// size when that is 0) holds rva; the first one when several do.
bool FindPeSection(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                   uint32_t rva, PeSection* section);

// The file offset of the length bytes at rva; false unless they all lie in
// one section's raw data inside the file.
bool MapPeRva(const unsigned char* data, uint32_t size, const PeHeaders* headers, uint32_t rva,
              uint32_t length, uint32_t* offset);

// Visitors return false to stop early; the walk then returns true. A walk
// returns false when it meets a malformed table, after visiting what came
// before it.

// The name of each DLL the import table names, in table order.
typedef bool (*PeImportVisitor)(const char* dll, void* context);
bool WalkPeImports(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                   PeImportVisitor visit, void* context);

// Each block of base relocations: the page it applies to and its count
// 16-bit little-endian entries (type << 12 | offset in the page).
typedef bool (*PeRelocationVisitor)(uint32_t pageRva, const unsigned char* entries,
                                    uint32_t count, void* context);
bool WalkPeRelocations(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                       PeRelocationVisitor visit, void* context);

// A resource type or name: a number, or a string of UTF-16LE units.
struct PeResourceName {
    const unsigned char* text;  // length units inside the image; null for a number
    uint32_t length;
    uint32_t id;                // the number when text is null
};

struct PeResource {
    PeResourceName type;
    PeResourceName name;
    uint32_t language;
    uint32_t offset;  // file offset of its data, which lie inside the file
    uint32_t size;
    uint32_t codePage;
};

// Every resource of the type / name / language tree, in tree order.
typedef bool (*PeResourceVisitor)(const PeResource* resource, void* context);
bool WalkPeResources(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                     PeResourceVisitor visit, void* context);

const uint32_t PE_ANY_LANGUAGE = 0xFFFFFFFF;

// The data of the resource with numbers type and id in language, or in the
// first language the tree lists for PE_ANY_LANGUAGE; false when there is
// none or the tree is malformed before it.
bool FindPeResource(const unsigned char* data, uint32_t size, const PeHeaders* headers,
                    uint32_t type, uint32_t id, uint32_t language, uint32_t* offset,
                    uint32_t* length);

#endif
