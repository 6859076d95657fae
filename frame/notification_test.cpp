// The program-end notification: its JSON body member by member, and the POST as an HTTP
// listener on loopback receives it, with the failures a webhook can produce.
#include "frame/notification.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/captured_context.h"
#include "tests/support/http_listener.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> MemberNames(const cJSON* object) {
    std::vector<std::string> names;
    for (const cJSON* item = object->child; item != nullptr; item = item->next)
        names.push_back(item->string);
    return names;
}

class NotificationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        context.programName = "ZYMB10DownloadFile";
        context.buildDate = "Dec 29 2024";
        for (const char* name : {"ZYMBSLACKURL", "ZYMBSLACKONERROR", "ZYMBSLACKCHANNEL",
                                 "ZYMBSLACKUSER", "ZYMBSLACKICON", "ZYMBSLACKNOTES"})
            unsetenv(name);
    }
    std::string Logged() { return captured.Raw(); }
    cJSON* Body(int status, unsigned minutes, unsigned seconds) {
        char* text = BuildNotificationBody(&context, status, minutes, seconds);
        cJSON* body = cJSON_Parse(text);
        cJSON_free(text);
        return body;
    }

    CapturedContext captured;
    ProgramContext& context = captured.context;
};

TEST_F(NotificationTest, SuccessBodyWithoutOptionalMembers) {
    cJSON* body = Body(0, 2, 5);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(MemberNames(body), std::vector<std::string>{"attachments"});
    cJSON* attachments = cJSON_GetObjectItem(body, "attachments");
    ASSERT_EQ(cJSON_GetArraySize(attachments), 1);
    cJSON* attachment = cJSON_GetArrayItem(attachments, 0);
    EXPECT_EQ(MemberNames(attachment), (std::vector<std::string>{"pretext", "text", "footer"}));
    EXPECT_STREQ(cJSON_GetObjectItem(attachment, "pretext")->valuestring,
                 "Corvantix *ZYMB10DownloadFile* (build Dec 29 2024)");
    EXPECT_STREQ(cJSON_GetObjectItem(attachment, "text")->valuestring,
                 "Ended with RC=*0* (Success)");
    EXPECT_STREQ(cJSON_GetObjectItem(attachment, "footer")->valuestring,
                 "Elapsed time 2 minutes and 5 seconds");
    cJSON_Delete(body);
}

TEST_F(NotificationTest, FailureBodyWithEveryOptionalMember) {
    setenv("ZYMBSLACKCHANNEL", "#ops", 1);
    setenv("ZYMBSLACKUSER", "batch-bot", 1);
    setenv("ZYMBSLACKICON", "http://icons/x.png", 1);
    context.flags |= CTX_STDERR_FILE;
    snprintf(context.stderrFileName, sizeof context.stderrFileName,
             "ZYMB10DownloadFile-20261209223000");
    snprintf(context.statusText, sizeof context.statusText, "Logon failed: bad password");
    snprintf(context.notesText, sizeof context.notesText, "from notes text");
    cJSON* body = Body(1, 0, 7);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(MemberNames(body),
              (std::vector<std::string>{"channel", "username", "icon_url", "attachments"}));
    EXPECT_STREQ(cJSON_GetObjectItem(body, "channel")->valuestring, "#ops");
    EXPECT_STREQ(cJSON_GetObjectItem(body, "username")->valuestring, "batch-bot");
    EXPECT_STREQ(cJSON_GetObjectItem(body, "icon_url")->valuestring, "http://icons/x.png");
    cJSON* attachment = cJSON_GetArrayItem(cJSON_GetObjectItem(body, "attachments"), 0);
    EXPECT_EQ(MemberNames(attachment),
              (std::vector<std::string>{"pretext", "text", "color", "footer", "fields"}));
    EXPECT_STREQ(cJSON_GetObjectItem(attachment, "text")->valuestring,
                 "Ended with RC=*1* (Failure) File(ZYMB10DownloadFile-20261209223000)");
    EXPECT_STREQ(cJSON_GetObjectItem(attachment, "color")->valuestring, "#D00000");
    EXPECT_STREQ(cJSON_GetObjectItem(attachment, "footer")->valuestring,
                 "Elapsed time 0 minutes and 7 seconds. *Logon failed: bad password*");
    cJSON* field = cJSON_GetArrayItem(cJSON_GetObjectItem(attachment, "fields"), 0);
    EXPECT_EQ(MemberNames(field), (std::vector<std::string>{"title", "value", "short"}));
    EXPECT_STREQ(cJSON_GetObjectItem(field, "title")->valuestring, "Notes");
    EXPECT_STREQ(cJSON_GetObjectItem(field, "value")->valuestring, "from notes text");
    EXPECT_TRUE(cJSON_IsFalse(cJSON_GetObjectItem(field, "short")));
    cJSON_Delete(body);

    setenv("ZYMBSLACKNOTES", "from the environment", 1);
    body = Body(1, 0, 7);
    field = cJSON_GetArrayItem(
        cJSON_GetObjectItem(cJSON_GetArrayItem(cJSON_GetObjectItem(body, "attachments"), 0),
                            "fields"),
        0);
    EXPECT_STREQ(cJSON_GetObjectItem(field, "value")->valuestring, "from the environment");
    cJSON_Delete(body);
}

TEST_F(NotificationTest, PostsTheIndentedBody) {
    testsupport::HttpListener listener;
    setenv("ZYMBSLACKURL", listener.Url("/hooks/abc").c_str(), 1);
    SendEndNotification(&context, 1, 1, 2);
    auto requests = listener.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/hooks/abc");
    char* expected = BuildNotificationBody(&context, 1, 1, 2);
    EXPECT_EQ(requests[0].body, expected);
    EXPECT_NE(requests[0].body.find("\n\t"), std::string::npos) << "body is not indented";
    cJSON_free(expected);
    std::string logged = Logged();
    EXPECT_NE(logged.find("Sending program end message via Slack"), std::string::npos);
    EXPECT_EQ(logged.find("Slack send failed"), std::string::npos) << logged;
}

TEST_F(NotificationTest, WebhookFailuresAreReported) {
    testsupport::HttpListener failing;
    failing.Answer(500);
    int refusedPort = testsupport::FreeLoopbackPort();
    const std::pair<std::string, const char*> cases[] = {
        {failing.Url(), "Slack send failed: HTTP response code said error"},
        {"http://127.0.0.1:" + std::to_string(refusedPort) + "/",
         "Slack send failed: Couldn't connect to server"},
    };
    for (const auto& [address, line] : cases) {
        setenv("ZYMBSLACKURL", address.c_str(), 1);
        SendEndNotification(&context, 1, 0, 0);
        EXPECT_NE(Logged().find(line), std::string::npos) << address;
    }
}

TEST_F(NotificationTest, SilentWebhookTimesOut) {
    testsupport::HttpListener silent;
    silent.NeverAnswer();
    setenv("ZYMBSLACKURL", silent.Url().c_str(), 1);
    SendEndNotification(&context, 1, 0, 0);
    EXPECT_NE(Logged().find("Slack send failed: Timeout was reached"), std::string::npos);
}

TEST_F(NotificationTest, OnErrorOnlySkipsSuccess) {
    testsupport::HttpListener listener;
    setenv("ZYMBSLACKURL", listener.Url().c_str(), 1);
    setenv("ZYMBSLACKONERROR", "", 1);
    SendEndNotification(&context, 0, 0, 0);
    EXPECT_TRUE(listener.Requests().empty());
    std::string logged = Logged();
    EXPECT_NE(logged.find("No Slack message because RC=0"), std::string::npos);
    EXPECT_EQ(logged.find("Sending program end message"), std::string::npos);
    SendEndNotification(&context, 1, 0, 0);
    EXPECT_EQ(listener.Requests().size(), 1u);
}

}  // namespace
