// Every misbehaviour of the development server, and the result code a session makes of
// it: nothing read outside what arrived, no hang, and a session that still terminates.
#include "devserver/faults.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "api/byte_order.h"
#include "api/codes.h"
#include "api/connect.h"
#include "api/exchange.h"
#include "api/file_list.h"
#include "api/session.h"
#include "devserver/test_server.h"

namespace {

struct FaultCase {
    const char* fault;  // applied to request 3: the list after Logon and ID-Server
    uint8_t rc;
    bool connectionLost;
};

class FaultResults : public ::testing::TestWithParam<std::tuple<FaultCase, bool>> {};

}  // namespace

TEST_P(FaultResults, ListRequestGetsTheDocumentedResult) {
    const FaultCase& c = std::get<0>(GetParam());
    std::vector<std::string> arguments = {"--fault", std::string(c.fault) + "@3"};
    if (!std::get<1>(GetParam())) arguments.push_back("--no-cipher");
    DevServer server(arguments);
    ASSERT_TRUE(server.Running()) << server.Log();
    TestClient client(server);
    ZYMB10APISession& session = client.session;
    ASSERT_EQ(client.loggedOn, 0) << server.Log();

    ZYMB10APIResponse* reply = SendRequest(&session, FUNCTION_LIST_FILE, "ACME", 4);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->RC, c.rc) << c.fault << "\n" << server.Log();
    if (reply->RC != 0) {
        EXPECT_EQ(reply->Count, 0u);
        EXPECT_EQ(reply->PayloadLength, 0u);
    }
    ZYMB10API_FreeResponse(reply);

    // The fault was for request 3 alone: the same connection answers again, unless the
    // server closed it.
    reply = SendRequest(&session, FUNCTION_LIST_FILE, "ACME", 4);
    if (c.connectionLost) {
        EXPECT_TRUE(reply->RC == RC_SEND_FAILED || reply->RC == RC_RECEIVE_FAILED)
            << c.fault << " then " << int(reply->RC);
    } else {
        EXPECT_EQ(reply->RC, 0) << c.fault;
        EXPECT_EQ(reply->Count, 5u);
    }
    ZYMB10API_FreeResponse(reply);
    ZYMB10API_Term(&session);
    EXPECT_TRUE(client.messages.Has("Closing connection to Corvantix Server"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultResults,
    ::testing::Combine(::testing::Values(FaultCase{"close-mid-header", RC_RECEIVE_FAILED, true},
                                         FaultCase{"short-length", RC_RECEIVE_FAILED, true},
                                         FaultCase{"huge-length", RC_RECEIVE_FAILED, true},
                                         FaultCase{"close-mid-payload", RC_RECEIVE_FAILED, true},
                                         FaultCase{"bad-payload-length", RC_RECEIVE_FAILED, false},
                                         FaultCase{"bad-count", RC_RECEIVE_FAILED, false},
                                         FaultCase{"bad-compression", RC_RECEIVE_FAILED, false},
                                         FaultCase{"wrong-expansion", RC_RECEIVE_FAILED, false},
                                         FaultCase{"rc=92", 92, false},
                                         FaultCase{"delay=200", RC_OK, false}),
                       ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<FaultCase, bool>>& info) {
        std::string name;
        for (const char* c = std::get<0>(info.param).fault; *c; ++c) {
            if (isalnum(static_cast<unsigned char>(*c))) name += *c;
        }
        return name + (std::get<1>(info.param) ? "Enciphered" : "Plain");
    });

TEST(Faults, ItemAndSectionFaultsReachTheCallerAsData) {
    // Request 3 is the list, request 4 the first section.
    DevServer server({"--fault", "bad-crc@3", "--fault", "bad-size@3", "--fault",
                      "bad-section-length@4", "--fault", "endless-sections@5+"});
    ASSERT_TRUE(server.Running()) << server.Log();
    TestClient client(server);
    ZYMB10APISession& session = client.session;
    ASSERT_EQ(client.loggedOn, 0);
    ZYMB10APIResponse* list = SendRequest(&session, FUNCTION_LIST_FILE, "ACME", 4);
    ASSERT_EQ(list->RC, 0);
    const uint8_t* report = nullptr;
    for (uint32_t i = 0; i < list->Count; ++i) {
        const uint8_t* item = list->Payload + i * list->Length;
        if (strcmp(FileListItem{item}.Name(), "report.csv") == 0 &&
            FileListItem{item}.Generation() == 1) {
            report = item;
        }
    }
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(LoadLittleEndian64(report + ITEM_SIZE_OFFSET), server.Data().reportOld.size() + 1);

    uint8_t section[SECTION_REQUEST_SIZE] = {};
    FileListItem{report}.SectionRequest(section, 0);
    ZYMB10API_FreeResponse(list);
    ZYMB10APIResponse* first =
        SendRequest(&session, FUNCTION_DOWNLOAD_FILE, section, SECTION_REQUEST_SIZE);
    ASSERT_EQ(first->RC, 0);
    // The length field claims more than the payload holds; the payload is what arrived.
    EXPECT_EQ(LoadLittleEndian32(first->Payload + SECTION_DATA_LENGTH_OFFSET),
              server.Data().reportOld.size() + 1000);
    EXPECT_EQ(first->PayloadLength, SECTION_DATA_OFFSET + server.Data().reportOld.size());
    ZYMB10API_FreeResponse(first);
    for (uint32_t number = 1; number < 4; ++number) {
        StoreLittleEndian32(section + SECTION_REQUEST_NUMBER_OFFSET, number);
        ZYMB10APIResponse* more =
            SendRequest(&session, FUNCTION_DOWNLOAD_FILE, section, SECTION_REQUEST_SIZE);
        ASSERT_EQ(more->RC, 0);
        EXPECT_EQ(LoadLittleEndian32(more->Payload + SECTION_DATA_LENGTH_OFFSET),
                  65000u);  // full for ever
        EXPECT_EQ(more->PayloadLength, SECTION_DATA_OFFSET + 65000u);
        ZYMB10API_FreeResponse(more);
    }
    ZYMB10API_Term(&session);
}

TEST(Faults, ParseAndSelect) {
    const struct {
        const char* text;
        bool ok;
        FaultKind kind;
        uint32_t value;
        uint32_t request;
        bool andLater;
    } cases[] = {
        {"close-mid-header", true, FaultKind::CloseMidHeader, 0, 0, false},
        {"close-mid-header@3", true, FaultKind::CloseMidHeader, 0, 3, false},
        {"rc=92@4+", true, FaultKind::ResultCode, 92, 4, true},
        {"delay=1500", true, FaultKind::Delay, 1500, 0, false},
        {"stall@5", true, FaultKind::Delay, 24u * 60 * 60 * 1000, 5, false},
        {"stall=1", false, FaultKind::Delay, 0, 0, false},
        {"rc", false, FaultKind::ResultCode, 0, 0, false},
        {"rc=256", false, FaultKind::ResultCode, 0, 0, false},
        {"rc=x", false, FaultKind::ResultCode, 0, 0, false},
        {"bad-crc=1", false, FaultKind::BadCrc, 0, 0, false},
        {"bad-crc@0", false, FaultKind::BadCrc, 0, 0, false},
        {"bad-crc@", false, FaultKind::BadCrc, 0, 0, false},
        {"explode", false, FaultKind::BadCrc, 0, 0, false},
    };
    for (const auto& c : cases) {
        Fault fault;
        std::string error;
        ASSERT_EQ(ParseFault(c.text, &fault, &error), c.ok) << c.text << " " << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(fault.kind, c.kind) << c.text;
        EXPECT_EQ(fault.value, c.value) << c.text;
        EXPECT_EQ(fault.request, c.request) << c.text;
        EXPECT_EQ(fault.andLater, c.andLater) << c.text;
    }
    FaultPlan plan;
    Fault every, third, fromFifth;
    std::string error;
    ASSERT_TRUE(ParseFault("delay=1", &every, &error));
    ASSERT_TRUE(ParseFault("bad-crc@3", &third, &error));
    ASSERT_TRUE(ParseFault("rc=1@5+", &fromFifth, &error));
    plan.Add(every);
    plan.Add(third);
    plan.Add(fromFifth);
    EXPECT_EQ(plan.For(1).size(), 1u);
    EXPECT_EQ(plan.For(3).size(), 2u);
    EXPECT_EQ(plan.For(4).size(), 1u);
    EXPECT_EQ(plan.For(9).size(), 2u);
}

TEST(Faults, DelayIsReportedInMiliSecs) {
    DevServer server({"--fault", "delay=300@3"});
    ASSERT_TRUE(server.Running()) << server.Log();
    {
        TestClient client(server);
        ASSERT_EQ(client.loggedOn, 0);
        ZYMB10APIResponse* reply = SendRequest(&client.session, FUNCTION_LIST_FILE, "ACME", 4);
        EXPECT_EQ(reply->RC, 0);
        EXPECT_GE(reply->MiliSecs, 300u);
        ZYMB10API_FreeResponse(reply);
    }
    // The server logs a request once its reply is out, so the line may trail the reply.
    const std::string line = "Function(List-File) Length(4) RC(0 Request OK) Count(5)";
    for (int wait = 0; wait < 100 && server.Log().find(line) == std::string::npos; ++wait) {
        usleep(20000);
    }
    EXPECT_NE(server.Log().find(line), std::string::npos) << server.Log();
}

TEST(DevServerProgram, RefusesToStartWithoutWhatItNeeds) {
    testsupport::TempDir empty;
    testsupport::WriteFile(empty / "bad-users.txt", "no colon here\n");
    testsupport::WriteFile(empty / "users.txt", "batch:secret\n");
    testsupport::WriteFile(empty / "a-file", "");
    const std::string missing = empty / "no-such-folder";
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{}, "--data FOLDER is required"},
        {{"--data", missing}, "--data " + missing + " cannot be read: No such file or directory"},
        {{"--data", empty / "a-file"}, "--data " + empty / "a-file" + " cannot be read: Not a"},
        {{"--data", empty.Path(), "--users", missing},
         "users file " + missing + " cannot be read: No such file or directory"},
        {{"--data", empty.Path(), "--users", empty.Path()},
         "users file " + empty.Path() + " cannot be read: Is a directory"},
        {{"--data", empty.Path(), "--users", empty / "bad-users.txt"}, "expected user:password"},
        // The port the log would name is the port it listens on, or the start fails.
        {{"--data", empty.Path(), "--port", "99999"}, "--port 99999 is not a number from 1 to"},
        {{"--data", empty.Path(), "--port", "abc"}, "--port abc is not a number from 1 to 65535"},
        {{"--data", empty.Path(), "--port", "0"}, "--port 0 is not a number from 1 to 65535"},
        // A typo gets one line and the way to the help, not the whole help.
        {{"--data", empty.Path(), "--prot", "5000"},
         "zymb-devserver: unrecognized option '--prot'; see 'zymb-devserver --help'\n"},
        {{"--data", empty.Path(), "--port"}, "option '--port' needs a value"},
        {{"--data", empty.Path(), "--fault", "explode"}, "unknown fault: explode"},
        {{"--data", empty.Path(), "--fault", "rc=300@2"}, "result code must be 0 to 255"},
        {{"--data", empty.Path(), "--max-connections", "0"}, "--max-connections must be 1"},
        {{"--data", empty.Path(), "--idle-timeout", "2m"}, "--idle-timeout must be 0 to"},
    };
    for (const auto& c : cases) {
        testsupport::ChildOptions options;
        options.arguments = c.arguments;
        options.timeoutSeconds = 20;
        const testsupport::ChildResult result =
            testsupport::RunProgram(ZYMB_DEVSERVER_PATH, options);
        EXPECT_EQ(result.exitStatus, 2) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("Usage:"), std::string::npos) << result.err;
    }
}
