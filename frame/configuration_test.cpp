// The configuration file: syslog settings, standard-output prefix, message filters, and
// the lines a file that does not load gives. Also: no password reaches a syslog datagram.
#include "frame/configuration.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "frame/arguments.h"
#include "frame/captured_context.h"
#include "frame/password.h"
#include "frame/server_address.h"
#include "frame/syslog_sink.h"
#include "tests/support/test_support.h"
#include "tests/support/udp_listener.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

// What the call wrote to standard output.
std::string StandardOutputOf(const std::function<void()>& call) {
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    FILE* capture = tmpfile();
    dup2(fileno(capture), STDOUT_FILENO);
    call();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string text;
    rewind(capture);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, capture)) > 0) text.append(buffer, n);
    fclose(capture);
    return text;
}

class Configuration : public testing::Test {
  protected:
    ~Configuration() override {
        unsetenv("ZYMBSYSLOGHOST");
        unsetenv("ZYMBSYSLOGPORT");
    }
    std::string Write(const std::string& content) {
        std::string path = dir_ / "program.cfg";
        WriteFile(path, content);
        return path;
    }
    CapturedContext log_;
    TempDir dir_;
};

TEST_F(Configuration, SettingsTakeEffect) {
    std::string path = Write(R"(
options: {
  syslog: { enable = true; host = "127.0.0.1"; port = 5514; facility = "LOCAL3"; };
  stdout: { prefix = "Content-Type: text/plain~"; suffix = "end"; };
  filters = ( { filter = "Noisy*"; }, { other = 1; } );
};
)");
    int result = 0;
    std::string out =
        StandardOutputOf([&] { result = ReadConfiguration(&log_.context, path.c_str()); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, "Content-Type: text/plain\n\n");
    EXPECT_NE(log_.context.flags & CTX_SYSLOG, 0u);
    EXPECT_STREQ(getenv("ZYMBSYSLOGHOST"), "127.0.0.1");
    EXPECT_STREQ(getenv("ZYMBSYSLOGPORT"), "5514");
    EXPECT_EQ(log_.context.syslogFacility, 19 * 8);
    EXPECT_NE(log_.context.configLoaded, 0);
    ASSERT_NE(log_.context.messageFilters, nullptr);

    log_.context.flags &= ~CTX_SYSLOG;  // keep the datagrams of this test off the network
    EXPECT_EQ(Message(&log_.context, MSG_INFO, 0, "Noisy line"), 0);
    EXPECT_GT(Message(&log_.context, MSG_INFO, 0, "Quiet line"), 0);
    std::vector<std::string> expected = {"000N Reading Config File " + path, "000N Quiet line"};
    EXPECT_EQ(log_.Entries(), expected);
}

TEST_F(Configuration, FacilityNamesAndDefaults) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"auth", 32},    {"AuthPriv", 80}, {"mark", 192},   {"security", 32}, {"kern", 0},
        {"local7", 184}, {"uucp", 64},     {"nosuch", 128}, {"", 128}};
    for (const auto& [name, code] : cases) {
        std::string path =
            Write("options: { syslog: { enable = true; facility = \"" + name + "\"; }; };\n");
        ASSERT_EQ(ReadConfiguration(&log_.context, path.c_str()), 1);
        EXPECT_EQ(log_.context.syslogFacility, code) << name;
    }
    log_.context.flags = CTX_NOT_CONSOLE;
    std::string off = Write("options: { syslog: { enable = false; facility = \"auth\"; }; };\n");
    ASSERT_EQ(ReadConfiguration(&log_.context, off.c_str()), 1);
    EXPECT_EQ(log_.context.flags & CTX_SYSLOG, 0u);
}

TEST_F(Configuration, FiltersWithoutOptionsGroup) {
    std::string path = Write("other = 1;\n");
    ASSERT_EQ(ReadConfiguration(&log_.context, path.c_str()), 1);
    EXPECT_EQ(log_.context.messageFilters, nullptr);
    EXPECT_EQ(log_.context.flags & CTX_SYSLOG, 0u);
}

TEST_F(Configuration, FailuresAreReportedWithLineAndText) {
    std::string good = Write("options: { filters = ( { filter = \"x\"; } ); };\n");
    ASSERT_EQ(ReadConfiguration(&log_.context, good.c_str()), 1);
    std::string bad = Write("options: {\n  syslog: {\n    enable = ;\n");
    EXPECT_EQ(ReadConfiguration(&log_.context, bad.c_str()), 0);
    EXPECT_EQ(log_.context.messageFilters, nullptr);  // the old list went with the document
    EXPECT_EQ(ReadConfiguration(&log_.context, (dir_ / "missing.cfg").c_str()), 0);
    auto entries = log_.Entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[2], "000E Load of config file failed: Line(3) - Error(syntax error)");
    EXPECT_EQ(entries[4], "000E Load of config file failed: Line(0) - Error(file I/O error)");
}

TEST_F(Configuration, NoPathNoReading) {
    EXPECT_EQ(ReadConfiguration(&log_.context, nullptr), 1);
    EXPECT_EQ(ReadConfiguration(&log_.context, ""), 1);
    EXPECT_TRUE(log_.Raw().empty());
}

TEST_F(Configuration, PasswordsNeverReachSyslog) {
    testsupport::UdpListener listener;
    std::string path = Write("options: { syslog: { enable = true; host = \"127.0.0.1\"; port = " +
                             std::to_string(listener.Port()) + "; }; };\n");
    Syslog_Close();
    ASSERT_EQ(ReadConfiguration(&log_.context, path.c_str()), 1);

    const char* server = "batch@127.0.0.1:5000";
    ServerAddress address;
    InitServerAddress(&address, "batch", "", "127.0.0.1", "5000");
    OptionEntry rows[] = {{.letter = 'S',
                           .description = "Server",
                           .value = &server,
                           .flags = OPT_SERVER,
                           .target = &address},
                          {.letter = 0}};
    std::string argument = "user:-Pw0rdLiteral@host:6000";
    std::vector<char*> argv = {const_cast<char*>("test"), const_cast<char*>("-S"), argument.data(),
                               nullptr};
    log_.context.options = rows;
    log_.context.argc = 3;
    log_.context.argv = argv.data();
    ReadArguments(&log_.context);
    char password[PASSWORD_BUFFER_SIZE];
    ASSERT_NE(GetPassword(&log_.context, address.user.c_str(), address.passwordSource.c_str(),
                          "zymb", password),
              nullptr);
    EXPECT_STREQ(password, "Pw0rdLiteral");
    std::string pwFile = dir_ / "pw";
    WriteFile(pwFile, "FilePassw0rd\n");
    ASSERT_NE(GetPassword(&log_.context, "user", pwFile.c_str(), "zymb", password), nullptr);

    std::string datagrams = listener.ReceiveAll();
    Syslog_Close();
    EXPECT_NE(datagrams.find("Server Interpreted as"), std::string::npos) << datagrams;
    EXPECT_NE(datagrams.find("Password obtained OK"), std::string::npos) << datagrams;
    for (const char* secret : {"Pw0rdLiteral", "FilePassw0rd"}) {
        EXPECT_EQ(datagrams.find(secret), std::string::npos) << datagrams;
        EXPECT_EQ(log_.Raw().find(secret), std::string::npos);
    }
}

}  // namespace
