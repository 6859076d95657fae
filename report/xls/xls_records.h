// BIFF8 records as the workbook stream holds them: a 16-bit type, a 16-bit length and
// at most 8224 bytes of little-endian data. Every byte of the stream is put here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace xls {

constexpr size_t kMaxRecordData = 8224;

enum RecordType : uint16_t {
    kEof = 0x000A,
    kCodePage = 0x0042,
    kContinue = 0x003C,
    kWindow1 = 0x003D,
    kPane = 0x0041,
    kColInfo = 0x007D,
    kFont = 0x0031,
    kBoundSheet = 0x0085,
    kXf = 0x00E0,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kExtSst = 0x00FF,
    kDimensions = 0x0200,
    kNumber = 0x0203,
    kWindow2 = 0x023E,
    kStyle = 0x0293,
    kBof = 0x0809,
};

// Appends records to a byte string: Begin writes the header, the puts add data, End
// fills in the length. One record is open at a time.
class RecordWriter {
  public:
    explicit RecordWriter(std::string* out) : out_(out) {}

    void Begin(RecordType type);
    void End();
    // A whole record at once.
    void Record(RecordType type, std::string_view data);

    void U8(uint8_t value) { out_->push_back(static_cast<char>(value)); }
    void U16(uint16_t value);
    void U32(uint32_t value);
    void F64(double value);
    void Bytes(std::string_view bytes) { out_->append(bytes); }

    // Where the next byte goes, from the start of the byte string.
    size_t Position() const { return out_->size(); }
    // Where the open record's header began.
    size_t RecordStart() const { return start_; }
    // Data bytes the open record can still take.
    size_t Room() const { return kMaxRecordData - (out_->size() - start_ - 4); }

  private:
    std::string* out_;
    size_t start_ = 0;
};

// Overwrites 32 bits at offset of bytes (a field whose value became known later).
void Patch32(std::string* bytes, size_t offset, uint32_t value);

}  // namespace xls
