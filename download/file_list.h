// The 432-byte items of a List-File response and the Download-File section request.
// Integers in both are little-endian; bytes this program does not read pass unchanged.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "api/byte_order.h"

constexpr uint32_t FILE_LIST_ITEM_SIZE = 432;
constexpr uint32_t SECTION_SIZE = 65000;  // every section but the last is full
constexpr uint32_t SECTION_REQUEST_SIZE = 20;
constexpr uint32_t SECTION_DATA_LENGTH_OFFSET = 12;  // in a Download-File response payload
constexpr uint32_t SECTION_DATA_OFFSET = 16;
constexpr int DOWNLOAD_FAILED = 92;  // "File download failed"

constexpr size_t ITEM_DESCRIPTION_OFFSET = 92, ITEM_DESCRIPTION_SIZE = 40;
constexpr size_t ITEM_CRC_OFFSET = 136, ITEM_SIZE_OFFSET = 152, ITEM_SECTIONS_OFFSET = 160;
constexpr size_t ITEM_GENERATION_OFFSET = 164, ITEM_NAME_OFFSET = 176, ITEM_NAME_SIZE = 256;

// A view of one item; the bytes belong to the List-File response.
struct FileListItem {
    const uint8_t* bytes;

    const char* Description() const {
        return reinterpret_cast<const char*>(bytes + ITEM_DESCRIPTION_OFFSET);
    }
    // The stored name: not terminated when all 256 bytes are used.
    const char* Name() const { return reinterpret_cast<const char*>(bytes + ITEM_NAME_OFFSET); }
    size_t NameLength() const { return strnlen(Name(), ITEM_NAME_SIZE); }
    uint32_t Crc() const { return LoadLittleEndian32(bytes + ITEM_CRC_OFFSET); }
    int64_t Size() const {
        return static_cast<int64_t>(LoadLittleEndian64(bytes + ITEM_SIZE_OFFSET));
    }
    uint32_t Sections() const { return LoadLittleEndian32(bytes + ITEM_SECTIONS_OFFSET); }
    int32_t Generation() const {
        return static_cast<int32_t>(LoadLittleEndian32(bytes + ITEM_GENERATION_OFFSET));
    }
    // The section request: customer ID and the three key words, then the section number.
    void SectionRequest(uint8_t* request, uint32_t section) const {
        memcpy(request, bytes, 16);
        StoreLittleEndian32(request + 16, section);
    }
};
