// The owner of one file descriptor: closed when the owner ends or is given another, so no
// failure path closes by hand. Moves, never copies.
#pragma once
#include <unistd.h>

#include <utility>

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Gives the descriptor up to the caller, who closes it from then on.
    int Release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held (if any) and holds fd instead.
    void Reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// A pipe whose two ends are owned: close-on-exec on both. False (errno set) when the
// system refuses.
bool MakeOwnedPipe(UniqueFd* readEnd, UniqueFd* writeEnd);
