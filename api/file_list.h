// The 432-byte items of a List-File response and the Download-File section request.
// Integers in both are little-endian; bytes this program does not read pass unchanged.
// The one definition of these layouts: the client, the development server and the tests
// all read and write them through the names below.
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
// The rest of a Download-File response payload: the customer ID, then these two words.
constexpr size_t SECTION_NUMBER_OFFSET = 4, SECTION_COUNT_OFFSET = 8;
// The section request: the item's key, then the section number.
constexpr size_t SECTION_REQUEST_NUMBER_OFFSET = 16;

// The item's key: the customer ID and three key words name the stored file.
constexpr size_t ITEM_CUSTOMER_OFFSET = 0, ITEM_CUSTOMER_SIZE = 4, ITEM_KEY_SIZE = 16;
constexpr size_t ITEM_KEY1_OFFSET = 4, ITEM_KEY2_OFFSET = 8, ITEM_KEY3_OFFSET = 12;
// The description shows 40 characters and stays terminated inside its 44-byte field.
constexpr size_t ITEM_DESCRIPTION_OFFSET = 92, ITEM_DESCRIPTION_SIZE = 40;
constexpr size_t ITEM_CRC_OFFSET = 136, ITEM_SIZE_OFFSET = 152, ITEM_SECTIONS_OFFSET = 160;
constexpr size_t ITEM_GENERATION_OFFSET = 164, ITEM_NAME_OFFSET = 176, ITEM_NAME_SIZE = 256;

// The sections of a file of size bytes: the full ones and one more, empty when the size
// is an exact multiple.
constexpr uint32_t SectionCount(uint64_t size) {
    return static_cast<uint32_t>(size / SECTION_SIZE + 1);
}

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
        memcpy(request, bytes, ITEM_KEY_SIZE);
        StoreLittleEndian32(request + SECTION_REQUEST_NUMBER_OFFSET, section);
    }
};
