// Server strings: which fields a text gives, which it keeps, and what the log shows.
#include "frame/server_address.h"

#include <gtest/gtest.h>

#include <string>

#include "frame/captured_context.h"

namespace {

struct ServerCase {
    const char* text;
    const char* user;
    const char* passwordSource;
    const char* host;
    const char* port;
    int passwordGiven;
};

class ServerStringCases : public testing::TestWithParam<ServerCase> {};

TEST_P(ServerStringCases, FieldsAfterOneParse) {
    const ServerCase& c = GetParam();
    ServerAddress address;
    InitServerAddress(&address, "batch", "ignored", "127.0.0.1", "5000");
    EXPECT_EQ(address.parse(&address, c.text, nullptr), 1);
    EXPECT_STREQ(address.user.c_str(), c.user) << c.text;
    EXPECT_STREQ(address.passwordSource.c_str(), c.passwordSource) << c.text;
    EXPECT_STREQ(address.host.c_str(), c.host) << c.text;
    EXPECT_STREQ(address.port.c_str(), c.port) << c.text;
    EXPECT_EQ(address.passwordGiven, c.passwordGiven) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ServerStringCases,
    testing::Values(ServerCase{"user:-secret@host:6000", "user", "-secret", "host", "6000", 1},
                    ServerCase{"myhost", "batch", "", "myhost", "5000", 0},
                    ServerCase{"myhost:7000", "batch", "", "myhost", "7000", 0},
                    ServerCase{"alice@srv", "alice", "", "srv", "5000", 0},
                    ServerCase{"alice:/pw/file:with:colons@srv:1", "alice", "/pw/file:with:colons",
                               "srv", "1", 0},
                    ServerCase{"alice:+@srv", "alice", "+", "srv", "5000", 0},
                    ServerCase{"", "batch", "", "127.0.0.1", "5000", 0},
                    ServerCase{":6000", "batch", "", "127.0.0.1", "6000", 0},
                    ServerCase{"a@b@c", "a", "", "c", "5000", 0},
                    ServerCase{"a@h:1:2", "a", "", "h", "2", 0},
                    ServerCase{"@@@", "batch", "", "127.0.0.1", "5000", 0},
                    ServerCase{":::", "batch", "", "127.0.0.1", "::", 0},
                    ServerCase{":@:", "batch", "", "127.0.0.1", "5000", 0}));

TEST(ServerString, LongTextIsReadWhole) {
    // A long password is never cut off with the "@" behind it (which once made the user
    // the host and dropped the password without a word).
    std::string text = "u:-" + std::string(2000, 'x') + "@host:1";
    ServerAddress address;
    InitServerAddress(&address, "batch", "", "127.0.0.1", "5000");
    address.parse(&address, text.c_str(), nullptr);
    EXPECT_EQ(address.host, "host");
    EXPECT_EQ(address.port, "1");
    EXPECT_EQ(address.user, "u");
    EXPECT_EQ(address.passwordSource, "-" + std::string(2000, 'x'));
    EXPECT_EQ(address.passwordGiven, 1);
}

TEST(ServerString, FieldsKeptFromAnEarlierParseSurviveTheNextOne) {
    // The second text gives only the host; the first one's other fields stay.
    ServerAddress address;
    InitServerAddress(&address, "batch", "", "127.0.0.1", "5000");
    address.parse(&address, "alice:-pw@first:1", nullptr);
    address.parse(&address, "second", nullptr);
    EXPECT_STREQ(address.user.c_str(), "alice");
    EXPECT_STREQ(address.passwordSource.c_str(), "-pw");
    EXPECT_STREQ(address.host.c_str(), "second");
    EXPECT_STREQ(address.port.c_str(), "1");
    EXPECT_EQ(address.passwordGiven, 1);

    // Long kept fields survive a long new text.
    std::string longUser(500, 'u'), longHost(500, 'h');
    address.parse(&address, (longUser + "@x").c_str(), nullptr);
    address.parse(&address, longHost.c_str(), nullptr);
    EXPECT_EQ(address.host, longHost);
    EXPECT_EQ(address.user, longUser.substr(0, address.user.size()));
    EXPECT_GT(address.user.size(), 200u);
}

TEST(ServerString, InterpretationLineHidesALiteralPasswordOnly) {
    CapturedContext log;
    ServerAddress address;
    InitServerAddress(&address, "batch", "", "127.0.0.1", "5000");
    address.parse(&address, "user:-secret@host:6000", &log.context);
    InitServerAddress(&address, "batch", "", "127.0.0.1", "5000");
    address.parse(&address, "user:/etc/pwfile@host", &log.context);
    std::vector<std::string> expected = {
        "001N Server Interpreted as: Server(host) Port(6000) User(user) Password(******)",
        "001N Server Interpreted as: Server(host) Port(5000) User(user) Password(/etc/pwfile)"};
    EXPECT_EQ(log.Entries(), expected);
    EXPECT_EQ(log.Raw().find("secret"), std::string::npos);
}

}  // namespace
