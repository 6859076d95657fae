// Starting the development server for tests and collecting a session's messages.
#include "devserver/test_server.h"

#include <sys/stat.h>

#include <cstring>

#include "api/connect.h"
#include "api/exchange.h"
#include "api/file_transfer.h"
#include "api/logon.h"

namespace {

void CaptureMessage(void* owner, int level, unsigned, const char* text) {
    static_cast<MessageCapture*>(owner)->lines.push_back({level, text});
}

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

}  // namespace

SampleData::SampleData() {
    using testsupport::WriteFile;
    WriteFile(folder / "users.txt",
              "# sample users\n"
              "batch:secret:inherit\n"
              "digest:8FE4C11451281C094A6578E6DDBF5EED\n"
              "plain:plainpw\n");
    mkdir((folder / "ACME").c_str(), 0755);
    mkdir((folder / "ACME/logs").c_str(), 0755);
    mkdir((folder / "ACME/.hidden").c_str(), 0755);
    bigContent = Pattern(2 * 65000, 7);
    reportOld = "id,value\n1,one\n";
    reportNew = "id,value\n1,one\n2,two\n";
    WriteFile(folder / "ACME/big.bin", bigContent);
    WriteFile(folder / "ACME/report.csv", reportOld);
    WriteFile(folder / "ACME/report.csv;2", reportNew);
    WriteFile(folder / "ACME/logs/app.log", std::string(70000, 'L'));
    WriteFile(folder / "ACME/.hidden/secret.txt", "not served");
    WriteFile(folder / "ACME/empty.txt", "");
    WriteFile(folder / "ACME/.index",
              "report.csv;2||2|Second report\nempty.txt|dir/sub\\empty.txt||\n");
}

DevServer::DevServer(const std::vector<std::string>& arguments) {
    port_ = testsupport::FreeLoopbackPort();
    logPath_ = data_.folder / "server.log";
    std::vector<std::string> all = {"--data", data_.folder.Path(), "--port", std::to_string(port_)};
    all.insert(all.end(), arguments.begin(), arguments.end());
    running_ =
        process_.Start(ZYMB_DEVSERVER_PATH, all, {}, logPath_) && testsupport::WaitForPort(port_);
}

DevServer::~DevServer() {
    process_.Stop();
}

std::string DevServer::Log() const {
    return testsupport::ReadFile(logPath_);
}

MessageSink MessageCapture::Sink() {
    return MessageSink{.owner = this, .write = CaptureMessage};
}

bool MessageCapture::Has(const std::string& text) const {
    for (const Line& line : lines) {
        if (line.text == text) return true;
    }
    return false;
}

std::vector<std::string> MessageCapture::Texts() const {
    std::vector<std::string> texts;
    for (const Line& line : lines) texts.push_back(line.text);
    return texts;
}

ZYMB10APIResponse* SendRequest(ZYMB10APISession* session, uint8_t function, const void* payload,
                               uint32_t length) {
    ZYMB10APIRequest request = {};
    request.TotalLength = 32 + length;
    request.Function = function;
    request.Length = length;
    request.Payload = payload;
    return ZYMB10API_Send(session, &request);
}

int LogOn(ZYMB10APISession* session, const char* user, const char* password) {
    return ZYMB10API_Logon(session, user, password, PROGRAM_ID_DOWNLOAD, nullptr);
}

TestClient::TestClient(const DevServer& server, const ClientSetUp& setUp) {
    memset(record, 0xAA, sizeof record);
    ZYMB10API_Init(&session);
    session.messageSink = messages.Sink();
    session.options |= setUp.options;
    connected = ZYMB10API_Connect(&session, "127.0.0.1", server.Port().c_str());
    if (connected == 0 && setUp.logOn)
        loggedOn =
            ZYMB10API_Logon(&session, setUp.user, setUp.password, PROGRAM_ID_DOWNLOAD, record);
}

TestClient::~TestClient() {
    ZYMB10API_Term(&session);
}
