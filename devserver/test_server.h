// For tests: a zymb-devserver started on a free loopback port over a data folder of
// sample files, and a message sink that collects the messages of a session.
#pragma once
#include <string>
#include <vector>

#include "api/logon.h"
#include "api/session.h"
#include "base/message_sink.h"
#include "tests/support/test_support.h"

// The sample data: customer ACME with a few stored files, users batch (password
// "secret", inherit), digest (stored as the digest of "pw") and plain ("plainpw").
struct SampleData {
    testsupport::TempDir folder;
    std::string bigContent;  // ACME/big.bin: exactly two full sections
    std::string reportOld;   // ACME/report.csv
    std::string reportNew;   // ACME/report.csv;2
    SampleData();
};

class DevServer {
  public:
    // Starts the server with the given extra arguments; check Running() after.
    explicit DevServer(const std::vector<std::string>& arguments = {});
    ~DevServer();
    bool Running() const { return running_; }
    std::string Port() const { return std::to_string(port_); }
    pid_t Pid() const { return process_.Pid(); }
    // What the server logged so far.
    std::string Log() const;
    const SampleData& Data() const { return data_; }

  private:
    SampleData data_;
    testsupport::BackgroundProcess process_;
    std::string logPath_;
    int port_ = 0;
    bool running_ = false;
};

// A message sink that keeps each line's text (and level).
struct MessageCapture {
    struct Line {
        int level;
        std::string text;
    };
    std::vector<Line> lines;
    MessageCapture() = default;
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;
    // The sink to give a session; valid while this capture lives.
    MessageSink Sink();
    bool Has(const std::string& text) const;
    std::vector<std::string> Texts() const;
};

// Sends one request of a function with its payload through a logged-on session; returns the
// reply (the session's to free) or null.
ZYMB10APIResponse* SendRequest(ZYMB10APISession* session, uint8_t function, const void* payload,
                               uint32_t length);

// Logs a session on to the sample server as a user; returns the logon result.
int LogOn(ZYMB10APISession* session, const char* user = "batch", const char* password = "secret");

// How a TestClient starts.
struct ClientSetUp {
    const char* user = "batch";  // none, with no password: Kerberos single sign-on
    const char* password = "secret";
    uint32_t options = 0;  // session options (API_PLAIN_PASSWORD, ...), set before the connect
    bool logOn = true;     // false: connected only
};

// The start of most session tests: a session whose messages are captured, connected to
// the server and logged on as the set-up asks. The session ends (ZYMB10API_Term) with it.
class TestClient {
  public:
    explicit TestClient(const DevServer& server, const ClientSetUp& setUp = {});
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    MessageCapture messages;
    ZYMB10APISession session;
    uint8_t record[USER_RECORD_SIZE];  // the logon's user record; 0xAA bytes before it
    int connected = -1;                // the connect's result
    int loggedOn = -1;                 // the logon's result; -1 when it was not tried
};
