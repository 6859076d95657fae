// The context lock: a recursive mutex with a counter.
#include "frame/context_lock.h"

namespace {
void Destroy(ContextLock* lock) {
    lock->flags &= ~LOCK_INITIALISED;
}
void Lock(ContextLock* lock) {
    lock->mutex.lock();
}
void Unlock(ContextLock* lock) {
    lock->mutex.unlock();
}
int32_t Add(ContextLock* lock, int32_t amount) {
    std::lock_guard<std::recursive_mutex> guard(lock->mutex);
    return lock->counter += amount;
}
}  // namespace

void InitContextLock(ContextLock* lock) {
    lock->counter = 0;
    lock->flags = LOCK_INITIALISED;
    lock->destroy = Destroy;
    lock->lock = Lock;
    lock->unlock = Unlock;
    lock->add = Add;
}
