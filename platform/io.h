// Whole-buffer reads and writes on descriptors and sockets: the loops every caller would
// otherwise write again. An interrupted call (EINTR) is always repeated. As everywhere
// in the platform layer, a failure is a false (or -1) result with errno set; nothing here
// logs.
#pragma once
#include <sys/types.h>

#include <cstddef>

// Writes all length bytes to fd. True when they were written; false on an error (errno
// says which; EIO when the descriptor took no bytes). Safe in a signal handler.
bool WriteAll(int fd, const void* data, size_t length);
// Writes a terminated text with WriteAll.
bool WriteText(int fd, const char* text);

// Sends all length bytes on a socket; a peer that went away is a failed send, never a
// SIGPIPE. Returns length, or -1 when the connection failed.
ssize_t SendAll(int socket, const void* data, size_t length);
// Receives exactly length bytes: length on success, fewer when the peer closed, -1 on an
// error.
ssize_t ReceiveExact(int socket, void* buffer, size_t length);
