// Syslog over UDP: the client keeps one bound datagram socket and a resolved server.
#include "frame/syslog_sink.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
// The largest UDP payload over IPv4; the datagram is capped well below it anyway.
constexpr int UDP_MAXIMUM_MESSAGE = 65507;
constexpr int SYSLOG_LINE_SIZE = 1024;

struct SyslogClient {
    bool open;
    int socket;
    sockaddr_in server;
    char computerName[16];
    const char* identity;
    int defaultFacility;
    int maximumSize;
    char line[SYSLOG_LINE_SIZE];
} client = {false, -1};

in_addr_t Resolve(const char* name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (name == nullptr || getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return INADDR_NONE;
    in_addr_t address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return address;
}
}  // namespace

void Syslog_Open(const char* identity, int facility) {
    if (client.open) return;
    client.defaultFacility = facility;
    char host[256];
    if (gethostname(host, sizeof host) != 0) return;
    host[sizeof host - 1] = 0;
    snprintf(client.computerName, sizeof client.computerName, "%.15s", host);

    int port = 514;
    if (const char* text = getenv("ZYMBSYSLOGPORT"); text != nullptr) {
        port = atoi(text);
    } else if (servent* service = getservbyname("syslog", "udp"); service != nullptr) {
        port = ntohs(static_cast<uint16_t>(service->s_port));
    }
    in_addr_t address = Resolve(getenv("ZYMBSYSLOGHOST"));
    if (address == INADDR_NONE) address = Resolve("sysloghost");
    if (address == INADDR_NONE) address = htonl(INADDR_LOOPBACK);

    int fd = -1;
    for (int attempt = 0; attempt <= 100; ++attempt) {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) break;
        close(fd);
        fd = -1;
    }
    if (fd < 0) return;
    int identityLength = identity != nullptr ? static_cast<int>(strlen(identity)) : 0;
    int maximum = UDP_MAXIMUM_MESSAGE;
    if (maximum < identityLength + static_cast<int>(strlen(client.computerName)) + 64) {
        close(fd);
        return;
    }
    client.maximumSize = maximum > SYSLOG_LINE_SIZE ? SYSLOG_LINE_SIZE : maximum;
    client.socket = fd;
    client.server = sockaddr_in{};
    client.server.sin_family = AF_INET;
    client.server.sin_port = htons(static_cast<uint16_t>(port));
    client.server.sin_addr.s_addr = address;
    client.identity = identity;
    client.open = true;
}

int Syslog_Compose(char* out, int maximum, int priority, const char* computerName,
                   const char* identity, unsigned long threadId, const char* text) {
    static const char* const months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    // maximum + 1: snprintf counts the terminating zero, the datagram does not.
    int length = snprintf(
        out, static_cast<size_t>(maximum) + 1, "<%d>%s %2d %02d:%02d:%02d %s %s[%lu-%lu]: %s",
        priority, months[local.tm_mon], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
        computerName, identity != nullptr ? identity : "", 0UL, threadId, text);
    if (length < 0) return 0;
    if (length > maximum) length = maximum;
    // One line per datagram: the text ends at its first line feed or carriage return.
    for (int i = 0; i < length; ++i) {
        if (out[i] == '\n' || out[i] == '\r') {
            length = i;
            break;
        }
    }
    out[length] = 0;
    return length;
}

void Syslog_Send(int priority, const char* text, const char* openIdentity, int openFacility) {
    if (!client.open) Syslog_Open(openIdentity, openFacility);
    if (!client.open) return;
    if ((priority & 0x3F8) == 0) priority |= client.defaultFacility;
    int length = Syslog_Compose(client.line, client.maximumSize - 1, priority, client.computerName,
                                client.identity, static_cast<unsigned long>(gettid()), text);
    sendto(client.socket, client.line, static_cast<size_t>(length), MSG_NOSIGNAL,
           reinterpret_cast<sockaddr*>(&client.server), sizeof client.server);
}

void Syslog_Close() {
    if (client.socket >= 0) close(client.socket);
    client.socket = -1;
    client.open = false;
}
