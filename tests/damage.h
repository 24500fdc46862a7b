// Damaged copies of a setup image, for the tests that show a damaged setup
// being noticed: by a checking tool on the host, by the setup itself under
// Windows. Header-only and without windows.h, so both sides share it; link
// core/pe_image.cpp.
#ifndef MURM_TESTS_DAMAGE_H
#define MURM_TESTS_DAMAGE_H

#include "tools/pe/pe_image.h"
#include "resources/ids.h"

#include <vector>

enum DamageKind {
    DAMAGE_PAYLOAD,   // a byte in the middle of the payload archive (RCDATA 114)
    DAMAGE_CODE,      // a byte in the middle of the first executable section
    DAMAGE_DIALOG,    // a byte in the middle of the welcome page (DIALOG 104)
    DAMAGE_CUT,       // the last 4096 bytes lost, as by a download cut short
    DAMAGE_APPENDED,  // 16 non-zero bytes behind the image
    DAMAGE_KINDS
};

// A short name for test output.
inline const char* NameDamage(DamageKind kind)
{
    static const char* const names[DAMAGE_KINDS] = {"payload", "code", "dialog", "cut",
                                                    "appended"};
    return kind >= 0 && kind < DAMAGE_KINDS ? names[kind] : "unknown";
}

const uint32_t DAMAGE_CUT_BYTES = 4096;
const unsigned char DAMAGE_APPENDED_BYTE = 0xA5;
const uint32_t DAMAGE_APPENDED_COUNT = 16;

// Damages image in place; false, with image unchanged, when it cannot be
// read as a setup image or lacks what the kind damages.
inline bool DamageImage(std::vector<unsigned char>* image, DamageKind kind)
{
    if (image->size() > 0xFFFFFFFFu)
        return false;
    const unsigned char* data = image->data();
    const uint32_t size = (uint32_t)image->size();
    PeHeaders headers;
    if (!ReadPeHeaders(data, size, &headers))
        return false;
    uint32_t offset = 0, length = 0;
    switch (kind) {
    case DAMAGE_PAYLOAD:
        if (!FindPeResource(data, size, &headers, PE_RESOURCE_RCDATA, IDR_PAYLOAD,
                            PE_ANY_LANGUAGE, &offset, &length))
            return false;
        break;
    case DAMAGE_DIALOG:
        if (!FindPeResource(data, size, &headers, PE_RESOURCE_DIALOG, IDD_WELCOME,
                            PE_ANY_LANGUAGE, &offset, &length))
            return false;
        break;
    case DAMAGE_CODE: {
        PeSection section;
        uint32_t i = 0;
        while (ReadPeSection(data, size, &headers, i++, &section) &&
               !(section.characteristics & PE_SECTION_EXECUTE)) {
        }
        if (!(section.characteristics & PE_SECTION_EXECUTE))
            return false;
        // The code itself, not the zeros that pad it to the file alignment.
        length = section.virtualSize && section.virtualSize < section.rawSize ? section.virtualSize
                                                                              : section.rawSize;
        if (!MapPeRva(data, size, &headers, section.virtualAddress, length, &offset))
            return false;
        break;
    }
    case DAMAGE_CUT:
        // The headers stay whole, so that the cut shows in the checksum.
        if (headers.sizeOfHeaders > size || size - headers.sizeOfHeaders <= DAMAGE_CUT_BYTES)
            return false;
        image->resize(size - DAMAGE_CUT_BYTES);
        return true;
    case DAMAGE_APPENDED:
        image->insert(image->end(), DAMAGE_APPENDED_COUNT, DAMAGE_APPENDED_BYTE);
        return true;
    default:
        return false;
    }
    if (length == 0)
        return false;
    (*image)[offset + length / 2] ^= 0xFF;
    return true;
}

#endif
