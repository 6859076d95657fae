// A lock with a counter, shared by the command program frame and the batch runner's
// output streams. Recursive, as a line written while the lock is held may log again.
#pragma once
#include <pthread.h>

#include <cstdint>

constexpr uint32_t LOCK_INITIALISED = 0x1;

struct ContextLock {
    pthread_mutex_t mutex;
    int32_t counter;
    uint32_t flags;
    void (*destroy)(ContextLock* lock);
    void (*lock)(ContextLock* lock);
    void (*unlock)(ContextLock* lock);
    int32_t (*add)(ContextLock* lock, int32_t amount);  // returns the new counter value
};

void InitContextLock(ContextLock* lock);
