// Accepting clients and serving their requests.
#include "devserver/server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <system_error>
#include <thread>

#include "api/codes.h"

namespace {

std::mutex logMutex;

std::string FaultNames(const std::vector<Fault>& faults) {
    std::string names;
    for (const Fault& fault : faults) names += (names.empty() ? "" : ",") + fault.text;
    return names;
}

}  // namespace

std::string EscapeForLog(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            escaped += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F) {
            escaped += "\\x";
            escaped += "0123456789ABCDEF"[byte >> 4];
            escaped += "0123456789ABCDEF"[byte & 15];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void ServerLog(const char* format, ...) {
    char stamp[16] = "";
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) != nullptr) strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    const std::string line = std::string(stamp) + " " + EscapeForLog(text) + "\n";
    std::lock_guard<std::mutex> lock(logMutex);
    fwrite(line.data(), 1, line.size(), stderr);
    fflush(stderr);
}

Server::Server(const ServerOptions& options, UserStore* users, FileStore* files)
    : options_(options), shared_{users, files, options.name} {
    XNPCipher_SetUp(&cipher_);
}

bool Server::Listen(std::string* error) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int resolved =
        getaddrinfo(options_.address.c_str(), options_.port.c_str(), &hints, &found);
    if (resolved != 0) {
        *error = "cannot resolve " + options_.address + ":" + options_.port + ": " +
                 gai_strerror(resolved);
        return false;
    }
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // The longest queue the system allows: with a short one, clients that connect in a
    // burst wait out their SYN retries (1 s, 3 s, 7 s ...) before they are even accepted.
    const int yes = 1;
    if (listener_ >= 0) setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const bool bound = listener_ >= 0 && bind(listener_, found->ai_addr, found->ai_addrlen) == 0 &&
                       listen(listener_, SOMAXCONN) == 0;
    freeaddrinfo(found);
    if (!bound) {
        *error =
            "cannot listen on " + options_.address + ":" + options_.port + ": " + strerror(errno);
        return false;
    }
    return true;
}

void Server::Run() {
    int nextId = 0;
    while (true) {
        sockaddr_in peer = {};
        socklen_t peerLength = sizeof peer;
        const int client =
            accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) break;
            if (errno == EMFILE || errno == ENFILE) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            ServerLog("accept failed: %s", strerror(errno));
            break;
        }
        char text[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        const std::string peerText = std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                close(client);
                break;
            }
            if (clients_.size() >= options_.maxConnections) {
                // Closed at once: a client that waited in the queue gets an answer (the
                // close) instead of hanging, and the server keeps its descriptors.
                close(client);
                // One line for the first refusal and then every 100th, so that a flood
                // of connections does not flood the log as well.
                if (refused_++ % 100 == 0)
                    ServerLog(
                        "connection from %s refused: %zu connections open (limit %u), "
                        "%zu refused so far",
                        peerText.c_str(), clients_.size(), options_.maxConnections, refused_);
                continue;
            }
            clients_.insert(client);
        }
        if (options_.idleTimeout > 0) {
            const timeval limit = {static_cast<time_t>(options_.idleTimeout), 0};
            setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        }
        try {
            std::thread(&Server::Serve, this, client, peer.sin_addr.s_addr, peerText, ++nextId)
                .detach();
        } catch (const std::system_error& error) {
            ServerLog("connection from %s closed: no thread to serve it (%s)", peerText.c_str(),
                      error.what());
            std::lock_guard<std::mutex> lock(mutex_);
            clients_.erase(client);
            close(client);
        }
    }
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return clients_.empty(); });
    close(listener_);
    listener_ = -1;
}

void Server::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
    for (int client : clients_) shutdown(client, SHUT_RDWR);
}

void Server::Serve(int socket, uint32_t peerAddress, std::string peerText, int id) {
    ConnectionState connection;
    connection.id = id;
    connection.peerAddress = peerAddress;
    ServerLog("#%d connection from %s", id, peerText.c_str());
    uint32_t requestNumber = 0;
    while (true) {
        IncomingRequest request;
        std::string why;
        const ReadOutcome outcome = ReadRequest(socket, cipher_, &request, &why);
        if (outcome == ReadOutcome::Closed) break;
        if (outcome == ReadOutcome::Idle) {
            ServerLog("#%d idle for %u s; closing", id, options_.idleTimeout);
            break;
        }
        if (outcome == ReadOutcome::Broken) {
            ServerLog("#%d %s; closing", id, why.c_str());
            break;
        }
        ++requestNumber;
        const auto started = std::chrono::steady_clock::now();
        const std::vector<Fault> faults = options_.faults.For(requestNumber);
        Reply reply;
        if (outcome == ReadOutcome::BadPayload) {
            ServerLog("#%d %s", id, why.c_str());
            reply.rc = RC_INVALID_ARGUMENT_LENGTH;
        } else {
            reply = Dispatch(shared_, connection, request, faults);
        }
        uint32_t delay = 0;
        if (HasFault(faults, FaultKind::Delay, &delay)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        const ReplyStyle style = {options_.cipher, options_.compress,
                                  static_cast<uint32_t>(elapsed.count())};
        size_t sent = 0;
        const bool keepOpen = SendReply(socket, reply, style, cipher_, faults, &sent);
        if (!options_.quiet) {
            ServerLog("#%d Function(%s) Length(%u) RC(%u %s) Count(%u) Reply(%zu)%s%s", id,
                      FunctionNameText(request.header.Function),
                      static_cast<unsigned>(request.payload.size()), reply.rc,
                      ResultMessageText(reply.rc), reply.count, sent,
                      faults.empty() ? "" : " Faults(",
                      faults.empty() ? "" : (FaultNames(faults) + ")").c_str());
        }
        if (!keepOpen) break;
    }
    ServerLog("#%d closed after %u requests", id, requestNumber);
    std::lock_guard<std::mutex> lock(mutex_);
    clients_.erase(socket);
    close(socket);
    idle_.notify_all();
}
