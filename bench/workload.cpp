// Log-like text made from a fixed pseudo-random sequence, deflated into a gzip file while
// it is made, so the plain text never needs to be stored.
#include "bench/workload.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/io.h"

namespace {

constexpr size_t CHUNK = 1 << 20;

// xorshift64*: fast, and the same sequence on every machine.
class Random {
  public:
    uint64_t Next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1DULL;
    }
    uint32_t Below(uint32_t limit) { return static_cast<uint32_t>((Next() >> 32) % limit); }

  private:
    uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

// Lines of an order log: time, level, worker, order and customer numbers, amounts and a
// few words from a small vocabulary. Text like this packs about five to one at level 6.
class TextMaker {
  public:
    TextMaker() {
        static const char* const syllables[] = {"ka",  "lo",  "mi", "ra",  "ten", "vor",
                                                "sel", "dun", "pe", "quo", "ris", "nal",
                                                "ex",  "bur", "ta", "gin"};
        for (int i = 0; i < 256; ++i) {
            std::string word;
            const uint32_t parts = 2 + random_.Below(3);
            for (uint32_t p = 0; p < parts; ++p) word += syllables[random_.Below(16)];
            words_.push_back(word);
        }
    }

    // Appends whole lines to `out` until it holds at least `wanted` bytes.
    void Fill(std::string* out, size_t wanted) {
        static const char* const levels[] = {"INFO ", "INFO ", "INFO ", "WARN ", "DEBUG"};
        static const char* const states[] = {"shipped", "pending", "billed", "returned"};
        char line[512];
        while (out->size() < wanted) {
            milliseconds_ += 1 + random_.Below(900);
            const uint64_t seconds = milliseconds_ / 1000;
            int length = snprintf(
                line, sizeof line,
                "2025-03-%02u %02u:%02u:%02u.%03u %s [worker-%02u] order %08u for customer "
                "C%05u: %u items, total %u.%02u EUR, status %s, note:",
                static_cast<unsigned>(1 + seconds / 86400 % 28),
                static_cast<unsigned>(seconds / 3600 % 24),
                static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60),
                static_cast<unsigned>(milliseconds_ % 1000), levels[random_.Below(5)],
                random_.Below(16), ++order_, random_.Below(20000), 1 + random_.Below(9),
                random_.Below(5000), random_.Below(100), states[random_.Below(4)]);
            const uint32_t count = 2 + random_.Below(6);
            for (uint32_t w = 0; w < count; ++w) {
                line[length++] = ' ';
                const std::string& word = words_[random_.Below(256)];
                memcpy(line + length, word.data(), word.size());
                length += static_cast<int>(word.size());
            }
            line[length++] = '\n';
            out->append(line, static_cast<size_t>(length));
        }
    }

  private:
    Random random_;
    std::vector<std::string> words_;
    uint64_t milliseconds_ = 0;
    uint32_t order_ = 0;
};

struct DeflateEnd {
    void operator()(z_stream* stream) const { deflateEnd(stream); }
};

}  // namespace

bool MakeWorkload(const std::string& gzipPath, uint64_t size, int level, Workload* workload,
                  std::string* error) {
    const int fd = open(gzipPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = gzipPath + ": " + strerror(errno);
        return false;
    }
    z_stream stream{};
    // 31: a gzip wrapper around the deflate stream.
    if (deflateInit2(&stream, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        close(fd);
        *error = "deflateInit2 failed";
        return false;
    }
    std::unique_ptr<z_stream, DeflateEnd> owner(&stream);
    TextMaker maker;
    std::string text;
    std::vector<uint8_t> packed(CHUNK);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t made = 0;
    uint64_t written = 0;
    bool ok = true;
    for (bool last = false; ok && !last;) {
        maker.Fill(&text, CHUNK);
        const size_t take = static_cast<size_t>(std::min<uint64_t>(CHUNK, size - made));
        last = made + take == size;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(take));
        stream.next_in = reinterpret_cast<Bytef*>(text.data());
        stream.avail_in = static_cast<uInt>(take);
        int status;
        do {
            stream.next_out = packed.data();
            stream.avail_out = static_cast<uInt>(packed.size());
            status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            const size_t have = packed.size() - stream.avail_out;
            if (!WriteAll(fd, packed.data(), have)) {
                *error = gzipPath + ": " + strerror(errno);
                ok = false;
                break;
            }
            written += have;
        } while (stream.avail_out == 0 || (last && status != Z_STREAM_END));
        made += take;
        text.erase(0, take);
    }
    if (close(fd) != 0 && ok) {
        *error = gzipPath + ": " + strerror(errno);
        ok = false;
    }
    workload->size = size;
    workload->crc = static_cast<uint32_t>(crc);
    workload->packedSize = written;
    return ok;
}

bool MatchesWorkload(const std::string& path, const Workload& workload, std::string* why) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = path + ": " + strerror(errno);
        return false;
    }
    std::vector<uint8_t> block(CHUNK);
    uLong crc = crc32(0, nullptr, 0);
    uint64_t size = 0;
    ssize_t n;
    while ((n = read(fd, block.data(), block.size())) > 0) {
        crc = crc32(crc, block.data(), static_cast<uInt>(n));
        size += static_cast<uint64_t>(n);
    }
    close(fd);
    if (n < 0) {
        *why = path + ": " + strerror(errno);
        return false;
    }
    if (size != workload.size || static_cast<uint32_t>(crc) != workload.crc) {
        char text[160];
        snprintf(text, sizeof text, "%llu bytes, CRC %08x; expected %llu bytes, CRC %08x",
                 static_cast<unsigned long long>(size), static_cast<unsigned>(crc),
                 static_cast<unsigned long long>(workload.size), workload.crc);
        *why = path + ": " + text;
        return false;
    }
    return true;
}
