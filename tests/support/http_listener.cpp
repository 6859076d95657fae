// The test HTTP listener: one thread, one connection at a time, Content-Length bodies.
#include "tests/support/http_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

namespace testsupport {

HttpListener::HttpListener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(fd_, 16);
    thread_ = std::thread([this] { Serve(); });
}

HttpListener::~HttpListener() {
    stop_ = true;
    thread_.join();
    for (int held : heldConnections_) close(held);
    close(fd_);
}

std::string HttpListener::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpListener::Answer(int status, const std::string& headers, const std::string& body) {
    std::lock_guard<std::mutex> guard(mutex_);
    status_ = status;
    headers_ = headers;
    body_ = body;
}

std::vector<HttpRequest> HttpListener::Requests() {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
}

void HttpListener::Serve() {
    while (!stop_) {
        pollfd poller{fd_, POLLIN, 0};
        if (poll(&poller, 1, 50) != 1) continue;
        int connection = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        std::string data;
        HttpRequest request;
        size_t headerEnd = std::string::npos;
        size_t wanted = 0;
        while (!stop_) {
            pollfd reader{connection, POLLIN, 0};
            if (poll(&reader, 1, 50) != 1) continue;
            char buffer[8192];
            ssize_t n = read(connection, buffer, sizeof buffer);
            if (n <= 0) break;
            data.append(buffer, static_cast<size_t>(n));
            if (headerEnd == std::string::npos) {
                headerEnd = data.find("\r\n\r\n");
                if (headerEnd == std::string::npos) continue;
                std::string head = data.substr(0, headerEnd);
                size_t lineEnd = head.find("\r\n");
                std::string first = head.substr(0, lineEnd);
                size_t space = first.find(' ');
                request.method = first.substr(0, space);
                request.target = first.substr(space + 1, first.rfind(' ') - space - 1);
                size_t at = lineEnd;
                while (at != std::string::npos && at < head.size()) {
                    size_t next = head.find("\r\n", at + 2);
                    std::string line = head.substr(
                        at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
                    size_t colon = line.find(':');
                    if (colon != std::string::npos) {
                        std::string name = line.substr(0, colon);
                        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
                        size_t valueStart = line.find_first_not_of(' ', colon + 1);
                        request.headers[name] =
                            valueStart == std::string::npos ? "" : line.substr(valueStart);
                    }
                    at = next;
                }
                wanted = request.headers.count("content-length")
                             ? std::stoul(request.headers["content-length"])
                             : 0;
            }
            if (data.size() >= headerEnd + 4 + wanted) break;
        }
        if (headerEnd != std::string::npos) request.body = data.substr(headerEnd + 4, wanted);
        std::string response;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            requests_.push_back(request);
            response = "HTTP/1.1 " + std::to_string(status_) +
                       " Status\r\nContent-Length: " + std::to_string(body_.size()) +
                       "\r\nConnection: close\r\n" + headers_ + "\r\n" + body_;
        }
        if (silent_) {
            heldConnections_.push_back(connection);
            continue;
        }
        ssize_t ignored = write(connection, response.data(), response.size());
        (void)ignored;
        close(connection);
    }
}

}  // namespace testsupport
