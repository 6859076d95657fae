// The test UDP listener.
#include "tests/support/udp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

UdpListener::UdpListener() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

UdpListener::~UdpListener() {
    close(fd_);
}

std::string UdpListener::Receive(int timeoutMs) {
    pollfd poller{fd_, POLLIN, 0};
    if (poll(&poller, 1, timeoutMs) != 1) return "<none>";
    char buffer[70000];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n < 0 ? "<error>" : std::string(buffer, static_cast<size_t>(n));
}

std::string UdpListener::ReceiveAll() {
    std::string all;
    for (std::string datagram = Receive(500); datagram != "<none>"; datagram = Receive(500))
        all.append(datagram).append("\n");
    return all;
}

}  // namespace testsupport
