// The development server against clients that try to starve it: idle connections, more
// connections than it serves, requests that declare huge payloads, and user names that
// would forge lines in its log.
#include "devserver/server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "api/byte_order.h"
#include "api/codes.h"
#include "api/connect.h"
#include "api/exchange.h"
#include "api/file_transfer.h"
#include "api/session.h"
#include "devserver/test_server.h"

namespace {

// A raw TCP connection to the server; closed by the destructor.
class RawClient {
  public:
    explicit RawClient(const std::string& port) {
        socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { close(socket_); }
    bool Connected() const { return connected_; }
    bool Send(const void* data, size_t length) {
        return send(socket_, data, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
    }
    // True when the server closes the connection within the time given.
    bool ClosedWithin(int milliseconds) {
        pollfd ready = {socket_, POLLIN, 0};
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < end) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (poll(&ready, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
            char byte;
            const ssize_t got = recv(socket_, &byte, 1, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno == ECONNRESET)) return true;
            if (got < 0 && errno != EAGAIN) return true;
        }
        return false;
    }

  private:
    int socket_ = -1;
    bool connected_ = false;
};

// A request header that declares payloadLength bytes of payload to follow.
std::vector<uint8_t> HeaderDeclaring(uint32_t payloadLength) {
    ZYMB10APIRequest request = {};
    request.Function = FUNCTION_LIST_FILE;
    request.Length = payloadLength;
    std::vector<uint8_t> header(REQUEST_HEADER_SIZE);
    WriteRequestHeader(header.data(), request, REQUEST_HEADER_SIZE + payloadLength);
    return header;
}

bool WaitForLog(const DevServer& server, const std::string& text, size_t times = 1) {
    for (int wait = 0; wait < 250; ++wait) {
        const std::string log = server.Log();
        size_t found = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++found;
        if (found >= times) return true;
        usleep(20000);
    }
    return false;
}

// Resident memory of a process in KiB, from /proc.
long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// Logs on and lists ACME's files: what a real client needs of the server.
void ExpectServed(const DevServer& server) {
    TestClient client(server);
    ASSERT_EQ(client.loggedOn, 0) << server.Log();
    FileListReply list = ZYMB10API_ListFiles(&client.session, "ACME");
    EXPECT_EQ(list.rc, RC_OK);
    EXPECT_EQ(list.count, 5u);
    ZYMB10API_FreeResponse(list.response);
}

}  // namespace

TEST(ServerLimits, ConnectionsOverTheLimitCloseAtOnceAndIdleOnesTimeOut) {
    DevServer server({"--max-connections", "2", "--idle-timeout", "3"});
    ASSERT_TRUE(server.Running()) << server.Log();
    // The start-up check's own connection must be gone before the slots are counted.
    ASSERT_TRUE(WaitForLog(server, "#1 closed after 0 requests")) << server.Log();
    RawClient first(server.Port()), second(server.Port());
    ASSERT_TRUE(first.Connected() && second.Connected());
    ASSERT_TRUE(WaitForLog(server, "#3 connection from")) << server.Log();

    RawClient third(server.Port());
    ASSERT_TRUE(third.Connected());
    EXPECT_TRUE(third.ClosedWithin(1000)) << "a connection over the limit must close at once";
    EXPECT_TRUE(WaitForLog(server, "refused: 2 connections open (limit 2)")) << server.Log();

    // Connections that say nothing are closed after the time-out; a real client is then
    // served again.
    EXPECT_TRUE(first.ClosedWithin(10000));
    EXPECT_TRUE(second.ClosedWithin(10000));
    EXPECT_TRUE(WaitForLog(server, "idle for 3 s; closing", 2)) << server.Log();
    ExpectServed(server);
}

TEST(ServerLimits, AConnectionThatStopsInsideARequestTimesOutToo) {
    DevServer server({"--idle-timeout", "1"});
    ASSERT_TRUE(server.Running()) << server.Log();
    RawClient client(server.Port());
    const std::vector<uint8_t> header = HeaderDeclaring(4);
    ASSERT_TRUE(client.Send(header.data(), header.size()));
    ASSERT_TRUE(client.Send("AC", 2));  // two of the four payload bytes, then nothing
    EXPECT_TRUE(client.ClosedWithin(5000));
    EXPECT_TRUE(WaitForLog(server, "idle for 1 s; closing")) << server.Log();
}

TEST(ServerLimits, AHugeDeclaredPayloadClosesTheConnectionWithoutMemory) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    const long before = ResidentKiB(server.Pid());
    ASSERT_GT(before, 0);
    // Each header claims 16 MiB; the connections stay open on the client's side.
    std::vector<std::unique_ptr<RawClient>> clients;
    const std::vector<uint8_t> header = HeaderDeclaring(16u << 20);
    for (int i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<RawClient>(server.Port()));
        ASSERT_TRUE(clients.back()->Send(header.data(), header.size()));
    }
    for (auto& client : clients) EXPECT_TRUE(client->ClosedWithin(5000));
    EXPECT_TRUE(WaitForLog(server, "request payload of 16777216 bytes is over the limit", 20))
        << server.Log();
    EXPECT_LT(ResidentKiB(server.Pid()) - before, 32 * 1024) << "KiB grown";
    ExpectServed(server);
}

TEST(ServerLimits, APayloadWithinTheLimitIsReadAsItArrives) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    // The largest payload a request may have, sent in two parts with a pause between:
    // the server waits for the rest and answers (14: a list takes 4 bytes, not more).
    RawClient client(server.Port());
    std::vector<uint8_t> message = HeaderDeclaring(REQUEST_PAYLOAD_LIMIT);
    message.resize(message.size() + REQUEST_PAYLOAD_LIMIT, 'x');
    ASSERT_TRUE(client.Send(message.data(), message.size() / 2));
    usleep(200000);
    ASSERT_TRUE(
        client.Send(message.data() + message.size() / 2, message.size() - message.size() / 2));
    EXPECT_TRUE(WaitForLog(server, "Length(65536) RC(28 ")) << server.Log();
    EXPECT_FALSE(client.ClosedWithin(200));
}

TEST(ServerLog, ControlCharactersAreEscaped) {
    const struct {
        const char* text;
        const char* logged;
    } cases[] = {
        {"plain text", "plain text"},
        {"a\nb", "a\\x0Ab"},
        {"tab\there\r", "tab\\x09here\\x0D"},
        {"bell\x07 and del\x7F", "bell\\x07 and del\\x7F"},
        {"back\\slash", "back\\\\slash"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},  // UTF-8 stays as it is
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeForLog(c.text), c.logged) << c.text;
    EXPECT_EQ(EscapeForLog(std::string("nul\0here", 8)), "nul\\x00here");
}

TEST(ServerLog, AUserNameCannotForgeALine) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    {
        TestClient client(server, {.user = "x\n#1 FORGED"});
        ASSERT_EQ(client.connected, 0);
        EXPECT_NE(client.loggedOn, 0);
    }
    ASSERT_TRUE(WaitForLog(server, "logon by user ID x\\x0A#1 FORGED")) << server.Log();
    const std::string log = server.Log();
    EXPECT_EQ(log.find("\n#1 FORGED"), std::string::npos) << log;
}
