// The context lock: a recursive mutex with a counter.
#include "frame/context_lock.h"

namespace {
void Destroy(ContextLock* lock) {
    if ((lock->flags & LOCK_INITIALISED) == 0) return;
    pthread_mutex_destroy(&lock->mutex);
    lock->flags &= ~LOCK_INITIALISED;
}
void Lock(ContextLock* lock) {
    pthread_mutex_lock(&lock->mutex);
}
void Unlock(ContextLock* lock) {
    pthread_mutex_unlock(&lock->mutex);
}
int32_t Add(ContextLock* lock, int32_t amount) {
    pthread_mutex_lock(&lock->mutex);
    int32_t value = lock->counter += amount;
    pthread_mutex_unlock(&lock->mutex);
    return value;
}
}  // namespace

void InitContextLock(ContextLock* lock) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&lock->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    lock->counter = 0;
    lock->flags = LOCK_INITIALISED;
    lock->destroy = Destroy;
    lock->lock = Lock;
    lock->unlock = Unlock;
    lock->add = Add;
}
