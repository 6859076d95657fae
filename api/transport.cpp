// Socket operations of the transport: connect, send, receive, shut down, close.
#include "api/transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "platform/io.h"

namespace {

struct AddressListFree {
    addrinfo* list;
    ~AddressListFree() {
        if (list) freeaddrinfo(list);
    }
};

bool SocketOpen(const ZYMB10APISession* session) {
    return session->socket > 0;
}

// Connects within timeout seconds (0: as long as the system tries); errno says why not,
// ETIMEDOUT when the time ran out.
bool ConnectWithin(int fd, const sockaddr* address, socklen_t length, uint32_t timeout) {
    if (timeout == 0) return ::connect(fd, address, length) == 0;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    bool connected = ::connect(fd, address, length) == 0;
    if (!connected && errno == EINPROGRESS) {
        pollfd waiting = {fd, POLLOUT, 0};
        int ready;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
        do {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            ready = poll(&waiting, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        } while (ready < 0 && errno == EINTR);
        int error = 0;
        socklen_t size = sizeof error;
        if (ready == 0) {
            errno = ETIMEDOUT;
        } else if (ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0) {
            connected = error == 0;
            errno = error;
        }
    }
    const int cause = errno;
    fcntl(fd, F_SETFL, flags);
    errno = cause;
    return connected;
}

// Every later receive and send gives up when no byte moves for timeout seconds.
void SetTransferTimeout(int fd, uint32_t timeout) {
    if (timeout == 0) return;
    const timeval limit = {static_cast<time_t>(timeout), 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

bool XNPTCPClient_Connect(ZYMB10APISession* session, const char* host, const char* port) {
    // A session connects once; should it be asked again, the old socket must not leak.
    if (SocketOpen(session)) XNPTCPClient_Close(session);
    snprintf(session->triedAddress, sizeof session->triedAddress, "%s:%s", host, port);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        session->socketError = errno;
        return false;
    }
    if (fd == 0) {
        // Descriptor 0 means "no socket" in the session; move it out of the way.
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        if (moved < 0) {
            session->socketError = errno;
            return false;
        }
        fd = moved;
    }
    session->socket = fd;

    const linger immediateReset = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &immediateReset, sizeof immediateReset);

    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    AddressListFree addresses{nullptr};
    session->resolutionError = getaddrinfo(host, port, &hints, &addresses.list);
    if (session->resolutionError != 0) return false;

    const addrinfo* first = addresses.list;
    char numeric[NI_MAXHOST], service[NI_MAXSERV];
    if (getnameinfo(first->ai_addr, first->ai_addrlen, numeric, sizeof numeric, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0)
        snprintf(session->triedAddress, sizeof session->triedAddress, "%s:%s", numeric, service);
    if (!ConnectWithin(fd, first->ai_addr, first->ai_addrlen, session->connectTimeout)) {
        session->socketError = errno;
        return false;
    }
    SetTransferTimeout(fd, session->receiveTimeout);
    session->queriesCompleted = 0;
    session->bytesSent = 0;
    session->bytesReceived = 0;
    session->connectTime = static_cast<uint32_t>(time(nullptr));
    if (getnameinfo(first->ai_addr, first->ai_addrlen, session->peerAddress,
                    sizeof session->peerAddress, nullptr, 0, NI_NUMERICHOST) != 0) {
        snprintf(session->peerAddress, sizeof session->peerAddress, "0.0.0.0");
    }
    return true;
}

int XNPTCPClient_ReceiveLine(int socket, char* buffer) {
    memset(buffer, 0, RECEIVE_LINE_BUFFER_SIZE);
    for (size_t used = 0; used < RECEIVE_LINE_BUFFER_SIZE - 1; ++used) {
        char byte;
        if (ReceiveExact(socket, &byte, 1) != 1) return RECEIVE_LINE_FAILED;
        if (byte == '\n') {
            if (used > 0 && !isprint(static_cast<unsigned char>(buffer[used - 1]))) {
                buffer[used - 1] = '\0';
            }
            return RECEIVE_LINE_OK;
        }
        buffer[used] = byte;
    }
    return RECEIVE_LINE_TOO_LONG;
}

void XNPTCPClient_Shutdown(ZYMB10APISession* session) {
    if (SocketOpen(session)) ::shutdown(session->socket, SHUT_RDWR);
}

void XNPTCPClient_Close(ZYMB10APISession* session) {
    if (!SocketOpen(session)) return;
    ::shutdown(session->socket, SHUT_RDWR);
    ::close(session->socket);
    session->socket = -1;
}
