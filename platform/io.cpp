// Whole-buffer reads and writes on descriptors and sockets.
#include "platform/io.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool WriteAll(int fd, const void* data, size_t length) {
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = write(fd, next, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        next += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteText(int fd, const char* text) {
    return WriteAll(fd, text, strlen(text));
}

ssize_t SendAll(int socket, const void* data, size_t length) {
    const char* next = static_cast<const char*>(data);
    size_t left = length;
    while (left > 0) {
        const ssize_t sent = ::send(socket, next, left, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        next += sent;
        left -= static_cast<size_t>(sent);
    }
    return static_cast<ssize_t>(length);
}

ssize_t ReceiveExact(int socket, void* buffer, size_t length) {
    char* next = static_cast<char*>(buffer);
    size_t received = 0;
    while (received < length) {
        const ssize_t got = ::recv(socket, next + received, length - received, 0);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        received += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(received);
}
