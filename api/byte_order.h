// Reading and writing integers at byte offsets: big-endian for message headers and the
// logon block, little-endian for the list items and section records. Every byte swap of
// the client and the development server goes through here.
#pragma once
#include <cstdint>

inline uint32_t LoadBigEndian32(const void* where) {
    const uint8_t* b = static_cast<const uint8_t*>(where);
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | uint32_t{b[3]};
}

inline void StoreBigEndian32(void* where, uint32_t value) {
    uint8_t* b = static_cast<uint8_t*>(where);
    b[0] = static_cast<uint8_t>(value >> 24);
    b[1] = static_cast<uint8_t>(value >> 16);
    b[2] = static_cast<uint8_t>(value >> 8);
    b[3] = static_cast<uint8_t>(value);
}

inline uint16_t LoadBigEndian16(const void* where) {
    const uint8_t* b = static_cast<const uint8_t*>(where);
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

inline void StoreBigEndian16(void* where, uint16_t value) {
    uint8_t* b = static_cast<uint8_t*>(where);
    b[0] = static_cast<uint8_t>(value >> 8);
    b[1] = static_cast<uint8_t>(value);
}

inline uint32_t LoadLittleEndian32(const void* where) {
    const uint8_t* b = static_cast<const uint8_t*>(where);
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

inline void StoreLittleEndian32(void* where, uint32_t value) {
    uint8_t* b = static_cast<uint8_t*>(where);
    b[0] = static_cast<uint8_t>(value);
    b[1] = static_cast<uint8_t>(value >> 8);
    b[2] = static_cast<uint8_t>(value >> 16);
    b[3] = static_cast<uint8_t>(value >> 24);
}

inline uint64_t LoadLittleEndian64(const void* where) {
    const uint8_t* b = static_cast<const uint8_t*>(where);
    return uint64_t{LoadLittleEndian32(b)} | uint64_t{LoadLittleEndian32(b + 4)} << 32;
}

inline void StoreLittleEndian64(void* where, uint64_t value) {
    uint8_t* b = static_cast<uint8_t*>(where);
    StoreLittleEndian32(b, static_cast<uint32_t>(value));
    StoreLittleEndian32(b + 4, static_cast<uint32_t>(value >> 32));
}
