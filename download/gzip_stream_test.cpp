// The ISA-L unpacking against zlib's gzip reader on the same bytes: the same content, the
// same verdict, and the same words wherever zlib's words can be known without zlib.
#include "download/gzip_stream.h"

#include <gtest/gtest.h>
#include <isa-l/crc.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Text(size_t size) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i)
        text += "entry " + std::to_string(i * 7919 % 100003) + " of the ledger\n";
    text.resize(size);
    return text;
}

// A gzip member made by zlib; with a header carrying name, comment, extra field and
// header CRC when `fullHeader` is set.
std::string Gzip(const std::string& content, int level = 6, bool fullHeader = false) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    gz_header header{};
    char name[] = "ledger.txt", comment[] = "month end";
    Bytef extra[] = {'Z', 'Y', 2, 0, 1, 2};
    if (fullHeader) {
        header.name = reinterpret_cast<Bytef*>(name);
        header.comment = reinterpret_cast<Bytef*>(comment);
        header.extra = extra;
        header.extra_len = sizeof extra;
        header.hcrc = 1;
        deflateSetHeader(&stream, &header);
    }
    std::string packed(deflateBound(&stream, content.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(packed.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    return packed;
}

// A member whose deflate data refers back into a preset dictionary the reader cannot have.
std::string GzipReachingBack(const std::string& content) {
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(content.data()),
                         static_cast<uInt>(content.size()));
    std::string raw(deflateBound(&stream, content.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = reinterpret_cast<Bytef*>(raw.data());
    stream.avail_out = static_cast<uInt>(raw.size());
    deflate(&stream, Z_FINISH);
    raw.resize(stream.total_out);
    deflateEnd(&stream);
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
    std::string member("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    member += raw;
    for (uLong field : {crc, static_cast<uLong>(content.size())})
        for (int shift = 0; shift < 32; shift += 8) member += static_cast<char>(field >> shift);
    return member;
}

struct Outcome {
    bool ok = false;
    UnpackResult::Stage stage = UnpackResult::NONE;
    std::string reason;
    std::string content;
};

// zlib's gzip reader over a file of the bytes, as downloads used to be unpacked.
Outcome ThroughZlib(const std::string& bytes) {
    TempDir scratch;
    const std::string path = scratch / "input";
    WriteFile(path, bytes);
    Outcome outcome;
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) return outcome;
    std::vector<char> block(1 << 20);
    int n;
    while ((n = gzread(file, block.data(), static_cast<unsigned>(block.size()))) > 0)
        outcome.content.append(block.data(), static_cast<size_t>(n));
    int code = Z_OK;
    std::string text = gzerror(file, &code);
    if (code == Z_OK) {
        const int closed = gzclose_r(file);
        outcome.ok = closed == Z_OK;
        if (closed == Z_BUF_ERROR) text = "unexpected end of file";
    } else {
        gzclose_r(file);
    }
    if (!outcome.ok) {
        outcome.stage = UnpackResult::READ_INPUT;
        const std::string prefix = path + ": ";
        outcome.reason = text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
    }
    return outcome;
}

bool Collect(void* owner, const uint8_t* data, size_t length) {
    static_cast<std::string*>(owner)->append(reinterpret_cast<const char*>(data), length);
    return true;
}

Outcome ThroughIsal(const std::string& bytes, size_t piece) {
    Outcome outcome;
    GzipStream stream(Collect, &outcome.content);
    for (size_t at = 0; at < bytes.size(); at += piece) {
        const size_t length = std::min(piece, bytes.size() - at);
        if (!stream.Push(reinterpret_cast<const uint8_t*>(bytes.data()) + at, length)) break;
    }
    const UnpackResult result = stream.End();
    outcome.ok = result.ok;
    outcome.stage = result.stage;
    outcome.reason = result.reason;
    return outcome;
}

std::string Flipped(const std::string& bytes, size_t at, int mask = 0x01) {
    std::string flipped = bytes.substr(0, at);
    flipped += static_cast<char>(bytes.at(at) ^ mask);
    return flipped + bytes.substr(at + 1);
}

TEST(GzipStream, EndsAsZlibsReaderOnTheSameBytes) {
    const std::string text = Text(3000000);  // more than one output buffer
    const std::string small = Text(20000);
    const std::string packed = Gzip(text);
    const std::string member = Gzip(small);
    const std::string full = Gzip(small, 6, true);
    std::string badHeaderCrc = full;
    badHeaderCrc[badHeaderCrc.find("month end") + 10] ^= 0x40;  // the header CRC's low byte
    const struct {
        const char* name;
        std::string bytes;
        bool sameWords;  // false: both fail, but zlib names the deflate fault in more detail
    } cases[] = {
        {"plain text", text, true},
        {"empty", "", true},
        {"one byte", "x", true},
        {"one magic byte", "\x1f", true},
        {"magic only", "\x1f\x8b", true},
        {"magic then text", "\x1f\x8c plain", true},
        {"gzip", packed, true},
        {"stored blocks", Gzip(small, 0), true},
        {"header with name, comment, extra and CRC", full, true},
        {"wrong header CRC", badHeaderCrc, true},
        {"two members", member + Gzip("second\n"), true},
        {"member then text", member + "trailing words", true},
        {"member then one byte", member + "\x1f", true},
        {"member then a lone magic", member + "\x1f\x8b", true},
        {"member then a member of another method", member + std::string("\x1f\x8b\x07\x00", 4),
         true},
        {"member then a damaged member", member + Flipped(member, member.size() - 6), true},
        {"truncated in the header", member.substr(0, 5), true},
        {"truncated in the data", packed.substr(0, packed.size() / 2), true},
        {"no trailer", member.substr(0, member.size() - 8), true},
        {"half a trailer", member.substr(0, member.size() - 4), true},
        {"wrong CRC-32", Flipped(member, member.size() - 6), true},
        {"wrong length", Flipped(member, member.size() - 2), true},
        {"other method", Flipped(member, 2, 0x0f), true},
        {"reserved flag", Flipped(member, 3, 0x20), true},
        {"distance before the start", GzipReachingBack(small), true},
        {"invalid block type", std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x07", 11),
         false},
        {"damaged data", Flipped(Flipped(packed, 3000, 0xff), 3001, 0x5a), false},
    };
    for (const auto& c : cases) {
        const Outcome expected = ThroughZlib(c.bytes);
        // Pieces cut anywhere: whole, byte by byte, odd sizes and section-sized.
        for (size_t piece : {size_t{1} << 30, size_t{1}, size_t{7}, size_t{65000}}) {
            if (piece == 1 && c.bytes.size() > 100000) continue;
            const Outcome got = ThroughIsal(c.bytes, piece);
            const std::string label = std::string(c.name) + ", pieces of " + std::to_string(piece);
            EXPECT_EQ(got.ok, expected.ok) << label << ": zlib said " << expected.reason;
            EXPECT_EQ(got.stage, expected.stage) << label;
            if (expected.ok) {
                EXPECT_TRUE(got.content == expected.content)
                    << label << ": " << got.content.size() << " bytes, zlib "
                    << expected.content.size();
            }
            if (c.sameWords) {
                EXPECT_EQ(got.reason, expected.reason) << label;
            }
            if (!got.ok) {
                EXPECT_FALSE(got.reason.empty()) << label;
            }
        }
    }
}

bool Refuse(void*, const uint8_t*, size_t) {
    errno = ENOSPC;
    return false;
}

TEST(GzipStream, AFailedWriteStopsTheStream) {
    const std::string packed = Gzip(Text(100000));
    GzipStream stream(Refuse, nullptr);
    EXPECT_FALSE(stream.Push(reinterpret_cast<const uint8_t*>(packed.data()), packed.size()));
    const UnpackResult result = stream.End();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.stage, UnpackResult::WRITE_OUTPUT);
    EXPECT_EQ(result.reason, strerror(ENOSPC));
}

// The download checks its CRC-32 with ISA-L: the published check value, and the same
// result as zlib's when the data comes in pieces.
TEST(DownloadCrc, MatchesTheCheckValueAndZlibInPieces) {
    uint8_t check[] = "123456789";
    EXPECT_EQ(crc32_gzip_refl(0, check, 9), 0xCBF43926u);
    const std::string data = Gzip(Text(500000));
    uint32_t pieces = 0;
    for (size_t at = 0; at < data.size(); at += 65000) {
        const size_t length = std::min<size_t>(65000, data.size() - at);
        pieces = crc32_gzip_refl(
            pieces, reinterpret_cast<uint8_t*>(const_cast<char*>(data.data())) + at, length);
    }
    EXPECT_EQ(pieces, crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                            static_cast<uInt>(data.size())));
    EXPECT_EQ(crc32_gzip_refl(0, check, 0), 0u);
}

}  // namespace
