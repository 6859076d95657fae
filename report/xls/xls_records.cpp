// The record writer: little-endian fields and record headers.
#include "report/xls/xls_records.h"

#include <cstring>

namespace xls {

void RecordWriter::Begin(RecordType type) {
    start_ = out_->size();
    U16(type);
    U16(0);
}

void RecordWriter::End() {
    size_t length = out_->size() - start_ - 4;
    (*out_)[start_ + 2] = static_cast<char>(length & 0xFF);
    (*out_)[start_ + 3] = static_cast<char>(length >> 8);
}

void RecordWriter::Record(RecordType type, std::string_view data) {
    Begin(type);
    Bytes(data);
    End();
}

void RecordWriter::U16(uint16_t value) {
    U8(static_cast<uint8_t>(value));
    U8(static_cast<uint8_t>(value >> 8));
}

void RecordWriter::U32(uint32_t value) {
    U16(static_cast<uint16_t>(value));
    U16(static_cast<uint16_t>(value >> 16));
}

void RecordWriter::F64(double value) {
    uint64_t bits;
    static_assert(sizeof bits == sizeof value);
    memcpy(&bits, &value, sizeof bits);
    U32(static_cast<uint32_t>(bits));
    U32(static_cast<uint32_t>(bits >> 32));
}

void Patch32(std::string* bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace xls
