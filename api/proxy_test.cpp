// Connecting through an HTTP CONNECT proxy: a real tinyproxy with Basic authentication,
// and a small fake proxy for the status lines tinyproxy never sends.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "api/codes.h"
#include "api/connect.h"
#include "api/exchange.h"
#include "api/session.h"
#include "devserver/test_server.h"
#include "tests/support/tinyproxy.h"

namespace {

using testsupport::ReadFile;
using testsupport::TinyProxy;

// A proxy that answers one CONNECT with a fixed status text and keeps what it was sent.
class FakeProxy {
  public:
    explicit FakeProxy(std::string answer) : answer_(std::move(answer)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeProxy() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    std::string Port() const { return std::to_string(port_); }
    // Valid once the client has gone.
    std::string Request() {
        thread_.join();
        thread_ = std::thread([] {});
        return request_;
    }

  private:
    void Serve() {
        const int client = accept(listener_, nullptr, nullptr);
        if (client < 0) return;
        char byte;
        while (request_.find("\r\n\r\n") == std::string::npos && read(client, &byte, 1) == 1) {
            request_ += byte;
        }
        (void)!write(client, answer_.data(), answer_.size());
        while (read(client, &byte, 1) == 1) {
        }
        close(client);
    }
    std::string answer_;
    std::string request_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// A session set up to connect through the proxy at 127.0.0.1:port. user "" sends no
// credentials; a password of none says the caller could not get it.
struct ProxySession {
    MessageCapture messages;
    testsupport::TempDir logs;
    std::string port, user;
    const char* password;
    ZYMB10APISession session;
    ProxySession(std::string proxyPort, std::string proxyUser = "", const char* proxyPassword = "")
        : port(std::move(proxyPort)), user(std::move(proxyUser)), password(proxyPassword) {
        setenv("ZYMBAPILOGDIR", logs.Path().c_str(), 1);
        ZYMB10API_Init(&session);
        unsetenv("ZYMBAPILOGDIR");
        session.messageSink = messages.Sink();
        session.proxy = ZYMB10APIProxy{
            .host = "127.0.0.1", .port = port.c_str(), .user = user.c_str(), .password = password};
    }
    std::string ApiLog() {
        char name[64];
        snprintf(name, sizeof name, "/ZYMBAPILOG-%6.6u.txt", static_cast<unsigned>(getpid()));
        return ReadFile(logs.Path() + name);
    }
};

#define REQUIRE_PROXY(proxy)                                                   \
    if (!(proxy).Running()) {                                                  \
        if (testsupport::PeersRequired()) FAIL() << "tinyproxy did not start"; \
        GTEST_SKIP() << "tinyproxy is not installed";                          \
    }

}  // namespace

TEST(Proxy, TinyproxyWithBasicAuthCarriesTheSession) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    TinyProxy proxy(server.Port());
    REQUIRE_PROXY(proxy);
    ProxySession client(proxy.Port(), "user", "password");
    ZYMB10APISession& session = client.session;
    ASSERT_EQ(ZYMB10API_Connect(&session, "127.0.0.1", server.Port().c_str()), 0) << proxy.Log();
    EXPECT_TRUE(client.messages.Has("Connection to server (127.0.0.1) successful"));
    ASSERT_EQ(LogOn(&session), 0);
    ZYMB10APIRequest request = {};
    request.TotalLength = 36;
    request.Function = FUNCTION_LIST_FILE;
    request.Length = 4;
    request.Payload = "ACME";
    ZYMB10APIResponse* list = ZYMB10API_Send(&session, &request);
    EXPECT_EQ(list->RC, 0);
    EXPECT_EQ(list->Count, 5u);
    ZYMB10API_FreeResponse(list);
    ZYMB10API_Term(&session);

    const std::string log = client.ApiLog();
    const std::string target = "127.0.0.1:" + server.Port();
    // The two handshake lines carry no time in front, and the credentials are masked:
    // Base64 of "user:password" is the password in all but name.
    EXPECT_NE(log.find("\nXNPTCPClient_ConnectViaProxy: CONNECT " + target +
                       " HTTP/1.0\r\nProxy-Authorization: Basic ******\r\nhost: " + target +
                       "\r\n\r\n\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("dXNlcjpwYXNzd29yZA=="), std::string::npos);
    EXPECT_EQ(log.find("password"), std::string::npos);
    EXPECT_NE(log.find("\nXNPTCPClient_ConnectViaProxy: HTTP/1.0 200 "), std::string::npos) << log;
    EXPECT_NE(log.find(": ZYMB10API_ConnectViaProxy\n"), std::string::npos) << log;
    EXPECT_NE(log.find(": ZYMB10API_ConnectViaProxy: Connection to server (127.0.0.1) successful"),
              std::string::npos)
        << log;
}

TEST(Proxy, TinyproxyRefusalsFailTheConnection) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    TinyProxy proxy(server.Port());
    REQUIRE_PROXY(proxy);
    const struct {
        const char* user;
        const char* password;
        const char* status;
    } cases[] = {
        {"", "", "407 "},           // no credentials at all
        {"user", "wrong", "401 "},  // credentials that do not match
    };
    for (const auto& c : cases) {
        ProxySession client(proxy.Port(), c.user, c.password);
        ZYMB10APISession& session = client.session;
        EXPECT_EQ(ZYMB10API_Connect(&session, "127.0.0.1", server.Port().c_str()),
                  RC_CONNECTION_FAILED);
        // The proxy answered, so no system error: the line names the proxy's address.
        EXPECT_TRUE(client.messages.Has(
            "Connection to server failed: WSAError(0) (127.0.0.1:" + proxy.Port() + ")"));
        const std::string log = client.ApiLog();
        EXPECT_NE(log.find("\nXNPTCPClient_ConnectViaProxy: HTTP/1.0 " + std::string(c.status)),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find(": ZYMB10API_ConnectViaProxy: Connection to server failed WSAError(0)"),
                  std::string::npos);
        ZYMB10API_Term(&session);
    }
}

TEST(Proxy, StatusLinesAcceptedAndRefused) {
    const struct {
        const char* answer;
        bool accepted;
    } cases[] = {
        {"HTTP/1.0 200\r\n\r\n", false},  // no reason text behind the code
        {"HTTP/1.1 200 OK\r\nVia: fake\r\n\r\n", true},
        {"HTTP/1.0 2000 Nonsense\r\n\r\n", false},
        {"HTTP/1.0 403 Forbidden\r\n\r\n", false},
        {"garbage\r\n\r\n", false},
    };
    for (const auto& c : cases) {
        FakeProxy proxy(c.answer);
        // A bare host and port: no credentials are sent.
        ProxySession client(proxy.Port());
        ZYMB10APISession& session = client.session;
        EXPECT_EQ(ZYMB10API_Connect(&session, "server.example", "5000"),
                  c.accepted ? RC_OK : RC_CONNECTION_FAILED)
            << c.answer;
        ZYMB10API_Term(&session);
        const std::string request = proxy.Request();
        EXPECT_EQ(request,
                  "CONNECT server.example:5000 HTTP/1.0\r\nhost: server.example:5000\r\n\r\n");
    }
}

TEST(Proxy, MissingProxyPasswordIs23WithoutAConnection) {
    ProxySession client("1", "user", nullptr);
    ZYMB10APISession& session = client.session;
    EXPECT_EQ(ZYMB10API_Connect(&session, "127.0.0.1", "5000"), RC_AUTHORIZATION_FAILURE);
    EXPECT_EQ(session.socket, 0);
    ZYMB10API_Term(&session);
}
