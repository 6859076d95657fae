// Logon with user and password against the development server: what the server reads of
// the logon block (user ID or principal name, password form, program, level, time zone),
// the messages and codes of each outcome, inheritance, and replies that are cut short or
// never arrive.
#include "api/logon.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "api/byte_order.h"
#include "api/codes.h"
#include "api/connect.h"
#include "api/exchange.h"
#include "api/file_transfer.h"
#include "api/session.h"
#include "devserver/test_server.h"

namespace {

using testsupport::ReadFile;

// The sample users and one whose name is a principal name.
std::vector<std::string> WithPrincipalUser(const testsupport::TempDir& folder) {
    testsupport::WriteFile(folder / "users.txt",
                           "batch:secret:inherit\n"
                           "digest:8FE4C11451281C094A6578E6DDBF5EED\n"
                           "plain:plainpw\n"
                           "operator.of.the.night@CORVANTIX.TEST:opspw\n");
    return {"--users", folder / "users.txt"};
}

// A logon as the download program makes it: the shared test client, and a request after.
struct Logon : TestClient {
    Logon(const DevServer& server, const char* user, const char* password, uint32_t options = 0)
        : TestClient(server, {.user = user, .password = password, .options = options}) {}
    int ListFiles() {
        return ZYMB10API_FreeResponse(ZYMB10API_ListFiles(&session, "ACME").response);
    }
};

class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() { unsetenv(name_); }

  private:
    const char* name_;
};

void ExpectInLog(const DevServer& server, const std::string& text) {
    EXPECT_NE(server.Log().find(text), std::string::npos) << "missing: " << text << "\n"
                                                          << server.Log();
}

}  // namespace

TEST(Logon, TheServerReadsTheNameFromTheRightField) {
    testsupport::TempDir folder;
    DevServer server(WithPrincipalUser(folder));
    ASSERT_TRUE(server.Running()) << server.Log();
    ScopedEnvironment noPlain("ZYMBNOMD5", nullptr);
    {
        Logon logon(server, "operator.of.the.night@CORVANTIX.TEST", "opspw");
        EXPECT_EQ(logon.loggedOn, 0);
    }
    {
        Logon logon(server, "batch", "secret");
        EXPECT_EQ(logon.loggedOn, 0);
    }
    // A 16-character user ID fills its field without a terminator.
    {
        Logon logon(server, "abcdefghijklmnopq", "x");
        EXPECT_EQ(logon.loggedOn, RC_UNKNOWN_USER);
    }
    ExpectInLog(server,
                "logon by principal name operator.of.the.night@CORVANTIX.TEST (program 56, "
                "client level 100, ");
    ExpectInLog(server, "logon by user ID batch (program 56, client level 100, ");
    ExpectInLog(server, "logon by user ID abcdefghijklmnop (program 56");
}

TEST(Logon, PasswordForms) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    const struct {
        const char* user;
        const char* password;
        bool noMd5;  // ZYMBNOMD5 set
        int rc;
        const char* form;  // as the server logs it
    } cases[] = {
        {"batch", "secret", false, 0, "digest"},
        {"batch", "secret", true, 0, "plain password"},
        {"digest", "8FE4C11451281C094A6578E6DDBF5EED", false, 0, "digest"},
        {"digest", "8fe4c11451281c094a6578e6ddbf5eed", false, RC_AUTHORIZATION_FAILURE, "digest"},
        {"plain", "plainpw", true, 0, "plain password"},
        {"plain", "plainpw", false, 0, "digest"},
        {"batch", "wrong", false, RC_AUTHORIZATION_FAILURE, "digest"},
        {"batch", "wrong", true, RC_AUTHORIZATION_FAILURE, "plain password"},
        {"nobody", "secret", false, RC_UNKNOWN_USER, "digest"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + " " + c.password + (c.noMd5 ? " ZYMBNOMD5" : ""));
        ScopedEnvironment noMd5("ZYMBNOMD5", c.noMd5 ? "" : nullptr);
        Logon logon(server, c.user, c.password);
        EXPECT_EQ(logon.loggedOn, c.rc);
        EXPECT_EQ(bool(logon.session.options & API_PLAIN_PASSWORD), c.noMd5);
        ExpectInLog(server, std::string("logon by user ID ") + c.user +
                                " (program 56, client "
                                "level 100, time zone ");
        ExpectInLog(server, std::string(c.form) +
                                "): " + (c.rc == 0 ? "accepted" : ResultMessageText(c.rc)));
        if (c.rc == 0) {
            EXPECT_EQ(logon.ListFiles(), RC_OK);
            continue;
        }
        const std::string failed = std::string("Logon failed: ") + ResultMessageText(c.rc);
        ASSERT_FALSE(logon.messages.lines.empty());
        EXPECT_EQ(logon.messages.lines.back().text, failed);
        EXPECT_EQ(logon.messages.lines.back().level, MSG_WARNING);
        // The connection is shut down: nothing more goes out on it.
        EXPECT_EQ(logon.ListFiles(), RC_SEND_FAILED);
    }
}

TEST(Logon, PlainModeWithoutAMessageSink) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    ScopedEnvironment noMd5("ZYMBNOMD5", "");
    ZYMB10APISession session;
    ZYMB10API_Init(&session);
    ASSERT_EQ(ZYMB10API_Connect(&session, "127.0.0.1", server.Port().c_str()), 0);
    EXPECT_EQ(LogOn(&session, "plain", "plainpw"), 0);
    EXPECT_TRUE(session.options & API_PLAIN_PASSWORD);
    ZYMB10API_Term(&session);
    ExpectInLog(server, "logon by user ID plain (program 56, client level 100");
    ExpectInLog(server, "plain password): accepted");
}

TEST(Logon, TimeZoneByteIsTheStandardOffsetInTenMinutes) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    const char* saved = getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    const struct {
        const char* zone;
        int units;
    } cases[] = {
        {"UTC0", 0},
        {"AEST-10AEDT,M10.1.0,M4.1.0/3", 60},
        {"EST5EDT,M3.2.0,M11.1.0", -30},
        {"NPT-5:45NDT,M3.5.0,M10.5.0", 34},  // truncated toward zero
        {"XST3:30XDT,M3.5.0,M10.5.0", -21},
        {"IST-5:30", 0},  // no daylight-saving rules: the zone is not told
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        setenv("TZ", c.zone, 1);
        Logon logon(server, "batch", "secret");
        EXPECT_EQ(logon.loggedOn, 0);
        ExpectInLog(server, "time zone " + std::to_string(c.units) + ", digest): accepted");
    }
    if (saved != nullptr) {
        setenv("TZ", before.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(Logon, LastLogonLine) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    time_t firstAt = 0;
    {
        Logon logon(server, "batch", "secret");
        ASSERT_EQ(logon.loggedOn, 0);
        EXPECT_TRUE(logon.messages.Has("Last Logon was at Not-Set from 0.0.0.0"));
        firstAt = time(nullptr);
        // The whole record is the caller's, even where the reply said nothing.
        EXPECT_EQ(LoadBigEndian32(logon.record), 0u);
        EXPECT_TRUE(logon.record[USER_RECORD_FLAGS] & USER_RECORD_INHERITABLE);
    }
    Logon logon(server, "batch", "secret");
    ASSERT_EQ(logon.loggedOn, 0);
    const time_t when = LoadBigEndian32(logon.record);
    EXPECT_LE(firstAt - when, 2);
    struct tm local;
    localtime_r(&when, &local);
    char expected[128];
    strftime(expected, sizeof expected, "Last Logon was at %A, %B %d, %Y - %H:%M:%S", &local);
    EXPECT_TRUE(logon.messages.Has(std::string(expected) + " from 127.0.0.1 (localhost)"))
        << logon.messages.Texts()[1];
}

TEST(Logon, Inheritance) {
    DevServer server;
    ASSERT_TRUE(server.Running()) << server.Log();
    const struct {
        const char* user;
        const char* password;
        const char* from;
        int rc;
        int level;
        const char* line;
    } cases[] = {
        {"batch", "secret", "plain", 0, MSG_NOTICE,
         "This User has now inheritted the access of User-ID: plain"},
        {"plain", "plainpw", "batch", 0, MSG_ERROR, "This user does not allow access inheretence"},
        {"batch", "secret", "nobody", RC_UNKNOWN_USER, MSG_ERROR,
         "Failed to inherit the access of User-ID: nobody"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.user) + " from " + c.from);
        ScopedEnvironment inherit("ZYMBUSERINHERIT", c.from);
        Logon logon(server, c.user, c.password);
        EXPECT_EQ(logon.loggedOn, c.rc);
        ASSERT_FALSE(logon.messages.lines.empty());
        EXPECT_EQ(logon.messages.lines.back().text, c.line);
        EXPECT_EQ(logon.messages.lines.back().level, c.level);
        // Still logged on, whatever became of the inheritance.
        EXPECT_EQ(logon.ListFiles(), RC_OK);
    }
    // Without a message sink nothing is reported and no inheritance is asked for.
    ScopedEnvironment inherit("ZYMBUSERINHERIT", "nobody");
    ZYMB10APISession session;
    ZYMB10API_Init(&session);
    ASSERT_EQ(ZYMB10API_Connect(&session, "127.0.0.1", server.Port().c_str()), 0);
    EXPECT_EQ(LogOn(&session), 0);
    ZYMB10API_Term(&session);
    const std::string log = server.Log();
    size_t requests = 0;
    for (size_t at = log.find("Function(Inherit-Access)"); at != std::string::npos;
         at = log.find("Function(Inherit-Access)", at + 1)) {
        ++requests;
    }
    EXPECT_EQ(requests, 2u) << log;
}

// Replies cut short and connections that close: each request of the logon in turn
// (1 Logon, 2 ID-Server, 3 Inherit-Access). The record buffer starts as 0xAA bytes, so
// whatever the reply did not hold shows.
TEST(Logon, ShortRepliesAndClosedConnections) {
    const struct {
        const char* fault;
        bool inherit;  // ZYMBUSERINHERIT=plain, so that request 3 is Inherit-Access
        int rc;
        std::vector<std::string> lines;
        size_t recordBytes;  // bytes of the record taken from the reply; the rest is zero
    } cases[] = {
        {"payload-size=12@1",
         true,
         0,
         {"Last Logon was at Not-Set from 0.0.0.0", "This user does not allow access inheretence"},
         12},
        {"payload-size=0@1", false, 0, {"Last Logon was at Not-Set from 0.0.0.0"}, 0},
        {"payload-size=30@2", false, 0, {"Welcome to Server: Corvantix-"}, 64},
        {"payload-size=20@2", false, 0, {"Welcome to Server: "}, 64},
        {"rc=40@2",
         true,
         0,
         {"Welcome to Server: ", "This User has now inheritted the access of User-ID: plain"},
         64},
        {"close-mid-header@1", false, RC_RECEIVE_FAILED, {"Logon failed: Received failed"}, 0},
        {"close-mid-payload@1", false, RC_RECEIVE_FAILED, {"Logon failed: Received failed"}, 0},
        {"short-length@1", false, RC_RECEIVE_FAILED, {"Logon failed: Received failed"}, 0},
        {"close-mid-header@2", false, 0, {"Welcome to Server: "}, 64},
        {"close-mid-header@3",
         true,
         RC_RECEIVE_FAILED,
         {"Failed to inherit the access of User-ID: plain"},
         64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        DevServer server({"--fault", c.fault});
        ASSERT_TRUE(server.Running()) << server.Log();
        ScopedEnvironment inherit("ZYMBUSERINHERIT", c.inherit ? "plain" : nullptr);
        Logon logon(server, "batch", "secret");
        EXPECT_EQ(logon.loggedOn, c.rc);
        for (const std::string& line : c.lines) {
            EXPECT_TRUE(logon.messages.Has(line)) << "missing: " << line;
        }
        if (c.rc == RC_RECEIVE_FAILED && c.recordBytes == 0) {
            EXPECT_EQ(logon.record[0], 0xAA);  // a failed logon leaves the buffer alone
            continue;
        }
        for (size_t i = c.recordBytes; i < USER_RECORD_SIZE; ++i) {
            ASSERT_EQ(logon.record[i], 0) << "record byte " << i;
        }
    }
}

TEST(PasswordDigest, SpelledDigestsAndMd5) {
    const struct {
        const char* password;
        const char* hex;
    } cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},  // MD5 test suite
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"8FE4C11451281C094A6578E6DDBF5EED", "8FE4C11451281C094A6578E6DDBF5EED"},
        {"8fe4c11451281c094a6578e6ddbf5eed", nullptr},   // lower case: hashed
        {"8FE4C11451281C094A6578E6DDBF5EE", nullptr},    // 31 digits: hashed
        {"8FE4C11451281C094A6578E6DDBF5EEDA", nullptr},  // 33 digits: hashed
        {"8FE4C11451281C094A6578E6DDBF5EEG", nullptr},   // not a digit: hashed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        uint8_t digest[16];
        memcpy(digest, ZYMB10API_PasswordDigest(c.password), 16);
        char text[33];
        for (int i = 0; i < 16; ++i) snprintf(text + 2 * i, 3, "%02X", digest[i]);
        if (c.hex != nullptr) {
            EXPECT_STREQ(text, c.hex);
        } else {
            EXPECT_STRNE(text, c.password);
            EXPECT_NE(strcasecmp(text, c.password), 0);
        }
    }
}
