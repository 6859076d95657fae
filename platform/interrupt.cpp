// The interrupt thread: sigwait instead of a signal handler, so the handler may lock and log.
#include "platform/interrupt.h"

#include <pthread.h>
#include <signal.h>

namespace {
void (*interruptHandler)(int) = nullptr;

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void* InterruptThread(void*) {
    sigset_t set = InterruptSignals();
    int signalNumber = 0;
    while (sigwait(&set, &signalNumber) != 0) {
    }
    interruptHandler(signalNumber);
    return nullptr;
}
}  // namespace

bool Platform_StartInterruptThread(void (*handler)(int)) {
    if (interruptHandler != nullptr) return true;
    interruptHandler = handler;
    sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, InterruptThread, nullptr) != 0) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        interruptHandler = nullptr;
        return false;
    }
    pthread_detach(thread);
    return true;
}
