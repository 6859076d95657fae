// Unpacking of a byte stream handed over piece by piece, with ISA-L's inflate, ending as
// zlib's gzip reader ends on the same bytes: gzip members one after the other, content that
// is not gzip passed through unchanged, and bytes after a member that do not start another
// one ignored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "download/unpack.h"

struct inflate_state;

class GzipStream {
  public:
    // Takes the unpacked bytes in order. False, with errno set, stops the unpacking as a
    // failed write.
    using Sink = bool (*)(void* owner, const uint8_t* data, size_t length);

    GzipStream(Sink sink, void* owner);
    ~GzipStream();
    GzipStream(const GzipStream&) = delete;
    GzipStream& operator=(const GzipStream&) = delete;

    // Unpacks the next piece of the stream; pieces may be cut anywhere. False once the
    // stream has failed; further pieces are then ignored and Result() says why.
    bool Push(const uint8_t* data, size_t length);
    // The stream has ended: a failure when it stops inside a member; trailingIgnored when
    // bytes after the last member were passed over.
    UnpackResult End();
    // READ_INPUT for damaged or short data, WRITE_OUTPUT when the sink refused.
    const UnpackResult& Result() const { return result_; }

  private:
    enum Mode { LOOK, COPY, MEMBER, IGNORE };
    // The parts of a member in their order; the optional ones are passed over when absent.
    enum Part { FIXED_HEADER, EXTRA_LENGTH, EXTRA, NAME, COMMENT, HEADER_CRC, DATA };

    void StartMember();
    void NextPart();
    size_t ReadHeader(const uint8_t* data, size_t length);
    size_t Inflate(const uint8_t* data, size_t length);
    bool Emit(const uint8_t* data, size_t length);
    void KeepTail(const uint8_t* data, size_t length);
    bool Fail(UnpackResult::Stage stage, const std::string& reason);

    Sink sink_;
    void* owner_;
    Mode mode_ = LOOK;
    bool first_ = true;      // still before the first member: plain content passes
    uint8_t magic_[2] = {};  // the bytes that decide what follows, gathered across pieces
    size_t magicHave_ = 0;
    Part part_ = FIXED_HEADER;
    size_t partLeft_ = 0;     // bytes still to come of a part of known length
    uint8_t flags_ = 0;       // the member's header flags
    uint32_t headerCrc_ = 0;  // CRC-32 of the header bytes read so far
    uint8_t field_[2] = {};   // a two-byte field gathered across pieces
    uint8_t tail_[8] = {};    // the member's last bytes consumed: its trailer at its end
    std::unique_ptr<inflate_state> state_;
    std::unique_ptr<uint8_t[]> output_;
    UnpackResult result_{true, UnpackResult::NONE, ""};
};
