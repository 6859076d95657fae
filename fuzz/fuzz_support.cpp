// The fuzz targets' shared helpers.
#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "frame/password.h"
#include "platform/whole_file.h"

uint8_t FuzzInput::Byte() {
    return at_ < size_ ? data_[at_++] : 0;
}

uint32_t FuzzInput::Number32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t{Byte()} << (8 * i);
    return value;
}

std::string_view FuzzInput::Take(size_t count) {
    if (count > size_ - at_) count = size_ - at_;
    std::string_view taken(reinterpret_cast<const char*>(data_) + at_, count);
    at_ += count;
    return taken;
}

std::string_view FuzzInput::Line() {
    const void* end = memchr(data_ + at_, '\n', size_ - at_);
    if (end == nullptr) return Rest();
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(end) - (data_ + at_));
    std::string_view line = Take(length);
    ++at_;
    return line;
}

const std::string& ScratchFolder() {
    // Never destroyed: the removal at exit runs after the statics are gone.
    static const std::string* folder = [] {
        struct stat status;
        const char* base = stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) &&
                                   access("/dev/shm", W_OK) == 0
                               ? "/dev/shm"
                               : Platform_TemporaryFolder();
        std::string made = std::string(base) + "/zymb-fuzz-XXXXXX";
        if (mkdtemp(made.data()) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        atexit([] { std::filesystem::remove_all(ScratchFolder()); });
        return new std::string(made);
    }();
    return *folder;
}

std::string WriteScratchFile(const std::string& name, std::string_view data) {
    const std::string path = ScratchFolder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return path;
}

void ClearFolder(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        std::filesystem::remove_all(entry.path(), error);
}

void FilledSocketPair(std::string_view data, int ends[2]) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        perror("socketpair");
        abort();
    }
    const int room = 1 << 20;  // the kernel caps it at its own maximum
    setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    setsockopt(ends[0], SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    while (!data.empty()) {
        const ssize_t written = send(ends[1], data.data(), data.size(), MSG_NOSIGNAL);
        if (written <= 0) break;
        data.remove_prefix(static_cast<size_t>(written));
    }
    shutdown(ends[1], SHUT_WR);
}

ProgramContext* QuietContext() {
    static ProgramContext* context = [] {
        static ProgramContext made{};
        made.out = fopen("/dev/null", "we");
        made.programName = "FuzzTarget";
        made.flags = CTX_NOT_CONSOLE | CTX_NO_COLOR;
        memcpy(made.levelLetters, "EWIND", 5);
        made.console = -1;
        InitContextLock(&made.lock);
        config_init(&made.config);
        CurrentContext = &made;
        return &made;
    }();
    return context;
}
