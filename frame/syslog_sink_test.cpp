// Syslog datagrams as a UDP listener on loopback receives them.
#include "frame/syslog_sink.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "frame/captured_context.h"
#include "frame/program_context.h"
#include "tests/support/udp_listener.h"

namespace {

class SyslogTest : public ::testing::Test {
  protected:
    testsupport::UdpListener listener;
    void SetUp() override {
        context.flags |= CTX_SYSLOG;
        context.syslogFacility = 128;  // local0
        context.programName = "ZYMB10DownloadFile";
        setenv("ZYMBSYSLOGHOST", "127.0.0.1", 1);
        setenv("ZYMBSYSLOGPORT", std::to_string(listener.Port()).c_str(), 1);
        Syslog_Close();
    }
    void TearDown() override { Syslog_Close(); }
    std::string Logged() { return captured.Raw(); }

    CapturedContext captured;
    ProgramContext& context = captured.context;
};

TEST_F(SyslogTest, HeaderPriorityAndText) {
    Message(&context, MSG_ERROR, 0, "disk %d%% full", 99);
    Message(&context, 9, 0, "clamped to debug");
    Message(&context, MSG_INFO, 0, "%s", "100%s literal");
    char host[256] = "";
    gethostname(host, sizeof host);
    std::string computer = std::string(host).substr(0, 15);
    const std::regex header(
        "<(\\d+)>(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123]\\d "
        "\\d\\d:\\d\\d:\\d\\d ([^ ]+) ZYMB10DownloadFile\\[0-(\\d+)\\]: (.*)");
    const std::pair<int, const char*> expected[] = {
        {128 + 3, "disk 99% full"}, {128 + 7, "clamped to debug"}, {128 + 6, "100%s literal"}};
    for (const auto& [priority, text] : expected) {
        std::string datagram = listener.Receive();
        std::smatch match;
        ASSERT_TRUE(std::regex_match(datagram, match, header)) << datagram;
        EXPECT_EQ(std::stoi(match[1]), priority);
        EXPECT_EQ(match[3], computer);
        EXPECT_EQ(match[5], text);
    }
}

TEST_F(SyslogTest, CutAtTheFirstLineEndAndAtTheDatagramLimit) {
    Message(&context, MSG_INFO, 0, "first line\nsecond line");
    EXPECT_TRUE(listener.Receive().ends_with("]: first line"));
    Message(&context, MSG_INFO, 0, "carriage\rreturn");
    EXPECT_TRUE(listener.Receive().ends_with("]: carriage"));
    Syslog_Send(6, std::string(5000, 'y').c_str(), "ZYMB10DownloadFile", 128);
    std::string datagram = listener.Receive();
    EXPECT_LT(datagram.size(), 1024u);
    EXPECT_GT(datagram.size(), 900u);
}

TEST_F(SyslogTest, ExplicitFacilityIsKept) {
    Syslog_Send((4 << 3) | 2, "auth critical", "prog", 128);
    EXPECT_TRUE(listener.Receive().starts_with("<34>"));
}

TEST_F(SyslogTest, UnresolvableHostFallsBackToLoopback) {
    setenv("ZYMBSYSLOGHOST", "no-such-host.invalid", 1);
    Message(&context, MSG_WARNING, 0, "still delivered");
    EXPECT_TRUE(listener.Receive().ends_with("]: still delivered"));
}

TEST_F(SyslogTest, NothingListeningIsNoFailure) {
    int port;
    {
        testsupport::UdpListener gone;
        port = gone.Port();
    }
    setenv("ZYMBSYSLOGPORT", std::to_string(port).c_str(), 1);
    for (int i = 0; i < 3; ++i) EXPECT_GT(Message(&context, MSG_INFO, 0, "into the void"), 0);
}

}  // namespace
