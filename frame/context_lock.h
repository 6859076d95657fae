// A lock with a counter, shared by the command program frame and the batch runner's
// output streams. Recursive, as a line written while the lock is held may log again.
// Hold it with a scoped guard on the mutex (std::lock_guard); the slots serve callers
// that reach it through the record.
#pragma once
#include <cstdint>
#include <mutex>

constexpr uint32_t LOCK_INITIALISED = 0x1;

struct ContextLock {
    std::recursive_mutex mutex;
    int32_t counter;
    uint32_t flags;
    void (*destroy)(ContextLock* lock);
    void (*lock)(ContextLock* lock);
    void (*unlock)(ContextLock* lock);
    int32_t (*add)(ContextLock* lock, int32_t amount);  // returns the new counter value
};

void InitContextLock(ContextLock* lock);
