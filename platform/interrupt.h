// Interrupt delivery: SIGINT, SIGTERM and SIGHUP are blocked in every thread and
// received by one dedicated thread, which calls the handler in ordinary thread context.
#pragma once

// Blocks the signals in the calling thread (and every thread it starts later) and
// starts the receiving thread. The handler runs once, on that thread.
bool Platform_StartInterruptThread(void (*handler)(int signalNumber));
// A program that starts children must unblock the signals in the child before exec.
