// ISA-L's streaming inflate behind the rules of zlib's gzip reader. The member header is
// read here (ISA-L 2.30 miscounts a header CRC when the header comes in more than one
// piece); ISA-L inflates the data, checks the trailer's CRC-32 and length, and gives the
// bytes after the member back. The reader's rules (what is gzip, what is passed through,
// what is ignored, which words name a failure) are kept here.
#include "download/gzip_stream.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Large enough that each write is worth its call, small enough to stay in the cache.
constexpr uint32_t OUTPUT_SIZE = 256 * 1024;

constexpr uint8_t GZIP_MAGIC_1 = 0x1f;
constexpr uint8_t GZIP_MAGIC_2 = 0x8b;
constexpr uint8_t DEFLATE_METHOD = 8;
constexpr uint8_t FLAG_HEADER_CRC = 0x02;
constexpr uint8_t FLAG_EXTRA = 0x04;
constexpr uint8_t FLAG_NAME = 0x08;
constexpr uint8_t FLAG_COMMENT = 0x10;
constexpr uint8_t RESERVED_FLAGS = 0xe0;
constexpr size_t FIXED_HEADER_SIZE = 10;  // magic, method, flags, time, extra flags, system

uint32_t LittleEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

}  // namespace

GzipStream::GzipStream(Sink sink, void* owner)
    : sink_(sink),
      owner_(owner),
      state_(std::make_unique<inflate_state>()),
      output_(std::make_unique<uint8_t[]>(OUTPUT_SIZE)) {}

GzipStream::~GzipStream() = default;

bool GzipStream::Fail(UnpackResult::Stage stage, const std::string& reason) {
    result_ = UnpackResult{false, stage, reason};
    return false;
}

bool GzipStream::Emit(const uint8_t* data, size_t length) {
    if (length == 0 || sink_(owner_, data, length)) return true;
    return Fail(UnpackResult::WRITE_OUTPUT, strerror(errno));
}

void GzipStream::StartMember() {
    mode_ = MEMBER;
    part_ = FIXED_HEADER;
    partLeft_ = FIXED_HEADER_SIZE - sizeof magic_;
    headerCrc_ = crc32_gzip_refl(0, magic_, sizeof magic_);
    memset(tail_, 0, sizeof tail_);
}

// Moves on to the next part the flags announce.
void GzipStream::NextPart() {
    const uint8_t announced[] = {0, FLAG_EXTRA, 0, FLAG_NAME, FLAG_COMMENT, FLAG_HEADER_CRC};
    do {
        part_ = static_cast<Part>(part_ + 1);
        if (part_ == EXTRA) part_ = static_cast<Part>(part_ + 1);  // follows its length only
    } while (part_ != DATA && (flags_ & announced[part_]) == 0);
    if (part_ == EXTRA_LENGTH || part_ == HEADER_CRC) partLeft_ = 2;
    if (part_ == DATA) {
        isal_inflate_init(state_.get());
        state_->crc_flag = ISAL_GZIP_NO_HDR_VER;  // deflate data, then the checked trailer
    }
}

// Reads header bytes, with zlib's checks in zlib's order; returns the bytes used.
size_t GzipStream::ReadHeader(const uint8_t* data, size_t length) {
    size_t at = 0;
    auto FailAt = [this](size_t used, const char* reason) {
        Fail(UnpackResult::READ_INPUT, reason);
        return used;
    };
    while (at < length && part_ != DATA) {
        switch (part_) {
            case FIXED_HEADER: {
                const size_t offset = FIXED_HEADER_SIZE - partLeft_;
                if (offset == 2 && data[at] != DEFLATE_METHOD)
                    return FailAt(at, "unknown compression method");
                if (offset == 3) {
                    flags_ = data[at];
                    if ((flags_ & RESERVED_FLAGS) != 0)
                        return FailAt(at, "unknown header flags set");
                }
                headerCrc_ = crc32_gzip_refl(headerCrc_, const_cast<uint8_t*>(data + at), 1);
                ++at;
                if (--partLeft_ == 0) NextPart();
                break;
            }
            case EXTRA_LENGTH:
                field_[2 - partLeft_] = data[at];
                headerCrc_ = crc32_gzip_refl(headerCrc_, const_cast<uint8_t*>(data + at), 1);
                ++at;
                if (--partLeft_ == 0) {
                    partLeft_ = uint32_t{field_[0]} | uint32_t{field_[1]} << 8;
                    part_ = EXTRA;
                    if (partLeft_ == 0) NextPart();
                }
                break;
            case EXTRA: {
                const size_t taken = std::min(partLeft_, length - at);
                headerCrc_ = crc32_gzip_refl(headerCrc_, const_cast<uint8_t*>(data + at), taken);
                at += taken;
                partLeft_ -= taken;
                if (partLeft_ == 0) NextPart();
                break;
            }
            case NAME:
            case COMMENT: {
                const void* end = memchr(data + at, 0, length - at);
                const size_t taken = end != nullptr
                                         ? static_cast<const uint8_t*>(end) - (data + at) + 1
                                         : length - at;
                headerCrc_ = crc32_gzip_refl(headerCrc_, const_cast<uint8_t*>(data + at), taken);
                at += taken;
                if (end != nullptr) NextPart();
                break;
            }
            case HEADER_CRC:
                field_[2 - partLeft_] = data[at++];
                if (--partLeft_ == 0) {
                    if ((uint32_t{field_[0]} | uint32_t{field_[1]} << 8) != (headerCrc_ & 0xffff))
                        return FailAt(at, "header crc mismatch");
                    NextPart();
                }
                break;
            case DATA:
                break;
        }
    }
    return at;
}

void GzipStream::KeepTail(const uint8_t* data, size_t length) {
    if (length == 0) return;
    if (length >= sizeof tail_) {
        memcpy(tail_, data + length - sizeof tail_, sizeof tail_);
    } else {
        memmove(tail_, tail_ + length, sizeof tail_ - length);
        memcpy(tail_ + sizeof tail_ - length, data, length);
    }
}

// Inflates from data until the member ends or the input runs out; returns the bytes used.
size_t GzipStream::Inflate(const uint8_t* data, size_t length) {
    inflate_state* state = state_.get();
    size_t used = 0;
    while (used < length || state->avail_out == 0) {
        // avail_in is 32 bits wide; pieces are sections, far below that, but stay exact.
        const uint32_t offered =
            static_cast<uint32_t>(std::min<size_t>(length - used, UINT32_MAX / 2));
        state->next_in = const_cast<uint8_t*>(data + used);
        state->avail_in = offered;
        state->next_out = output_.get();
        state->avail_out = OUTPUT_SIZE;
        const int status = isal_inflate(state);
        // On some invalid data ISA-L counts its input below zero (avail_in wraps): it never
        // reads past what it was offered, so no more than that was used.
        const size_t consumed = state->avail_in <= offered ? offered - state->avail_in : offered;
        KeepTail(data + used, consumed);
        used += consumed;
        const size_t produced = OUTPUT_SIZE - state->avail_out;
        if (!Emit(output_.get(), produced)) return used;
        if (status != ISAL_DECOMP_OK) {
            switch (status) {
                case ISAL_INCORRECT_CHECKSUM:
                    // The trailer ends the bytes consumed: which of its two fields disagrees
                    // decides the words, as zlib checks the CRC-32 first.
                    if (LittleEndian32(tail_) != state->crc)
                        Fail(UnpackResult::READ_INPUT, "incorrect data check");
                    else
                        Fail(UnpackResult::READ_INPUT, "incorrect length check");
                    break;
                case ISAL_INVALID_LOOKBACK:
                    Fail(UnpackResult::READ_INPUT, "invalid distance too far back");
                    break;
                case ISAL_INVALID_SYMBOL:
                    Fail(UnpackResult::READ_INPUT, "invalid literal/length or distance code");
                    break;
                case ISAL_INVALID_BLOCK:
                    Fail(UnpackResult::READ_INPUT, "invalid block");
                    break;
                default:
                    Fail(UnpackResult::READ_INPUT, "compressed data error");
            }
            return used;
        }
        if (state->block_state == ISAL_BLOCK_FINISH) {
            // Whatever follows is looked at as zlib does after a member.
            mode_ = LOOK;
            first_ = false;
            magicHave_ = 0;
            return used;
        }
        // No input left and room to spare: everything is out, the rest needs more input.
        if (used == length && produced < OUTPUT_SIZE) break;
        if (consumed == 0 && produced == 0) break;
    }
    return used;
}

bool GzipStream::Push(const uint8_t* data, size_t length) {
    if (!result_.ok) return false;
    while (length > 0) {
        switch (mode_) {
            case LOOK: {
                magic_[magicHave_++] = *data++;
                --length;
                if (magicHave_ < 2) break;
                if (magic_[0] == GZIP_MAGIC_1 && magic_[1] == GZIP_MAGIC_2) {
                    StartMember();
                } else if (first_) {
                    mode_ = COPY;
                    if (!Emit(magic_, 2)) return false;
                } else {
                    mode_ = IGNORE;  // trailing bytes after the last member
                }
                break;
            }
            case COPY:
                return Emit(data, length);
            case IGNORE:
                return true;
            case MEMBER: {
                const size_t used =
                    part_ == DATA ? Inflate(data, length) : ReadHeader(data, length);
                if (!result_.ok) return false;
                // ISA-L keeps what it cannot use yet, so a member that goes on has used
                // every byte; one that takes none would never end.
                if (used == 0) return Fail(UnpackResult::READ_INPUT, "compressed data error");
                data += used;
                length -= used;
                break;
            }
        }
    }
    return true;
}

UnpackResult GzipStream::End() {
    if (!result_.ok) return result_;
    switch (mode_) {
        case LOOK:
            // A lone first byte cannot be gzip: it is content. After a member it is ignored.
            if (magicHave_ == 1 && first_ && !Emit(magic_, 1)) return result_;
            if (magicHave_ == 1 && !first_) result_.trailingIgnored = true;
            break;
        case MEMBER:
            // Output may still sit in ISA-L when the data ended at a piece's boundary.
            if (part_ == DATA) Inflate(nullptr, 0);
            if (!result_.ok) return result_;
            if (mode_ == MEMBER) Fail(UnpackResult::READ_INPUT, "unexpected end of file");
            break;
        case IGNORE:
            result_.trailingIgnored = true;
            break;
        case COPY:
            break;
    }
    return result_;
}
