// The download program against the development server through the peers a site puts in
// between: a real tinyproxy with Basic credentials (ZYMBSERVERPROXY), and Kerberos single
// sign-on with tickets from a throw-away KDC (ZYMBKERBEROS). Each run downloads a file
// and compares it byte for byte with the sample it came from.
#include <gtest/gtest.h>

#include "tests/support/kdc.h"
#include "tests/support/test_support.h"
#include "tests/support/tinyproxy.h"

namespace {

using testsupport::ReadFile;

struct Samples {
    testsupport::TempDir folder;
    std::string error;
    Samples() {
        const std::string source = std::string(ZYMB_SOURCE) + "/samples/make-samples.py";
        const auto result =
            testsupport::RunProgram("/usr/bin/python3", {.arguments = {source, folder.Path()}});
        if (result.exitStatus != 0) error = "sample data: " + result.err;
    }
    std::string operator/(const std::string& name) const { return folder / name; }
};

// The development server over the samples, with extra options.
class Server {
  public:
    Server(const Samples& samples, const std::vector<std::string>& more = {}) {
        port_ = testsupport::FreeLoopbackPort();
        std::vector<std::string> arguments = {"--data",          samples / "data", "--users",
                                              samples / "users", "--port",         Port()};
        arguments.insert(arguments.end(), more.begin(), more.end());
        running_ = process_.Start(DEVSERVER_PROGRAM, arguments, {}, log_ / "server.log") &&
                   testsupport::WaitForPort(port_);
    }
    bool Running() const { return running_; }
    std::string Port() const { return std::to_string(port_); }
    std::string Log() const { return ReadFile(log_ / "server.log"); }

  private:
    testsupport::TempDir log_;
    testsupport::BackgroundProcess process_;
    int port_ = 0;
    bool running_ = false;
};

// Runs the program in a fresh working folder with the environment changes.
testsupport::ChildResult Download(const testsupport::TempDir& work,
                                  const std::vector<std::string>& arguments,
                                  std::map<std::string, std::optional<std::string>> environment) {
    environment["TMPDIR"] = work.Path();
    environment["REQUEST_URI"] = std::nullopt;
    environment["ZYMBPWPATH"] = std::nullopt;
    environment.emplace("ZYMBSERVERPROXY", std::nullopt);
    environment.emplace("ZYMBKERBEROS", std::nullopt);
    return testsupport::RunProgram(DOWNLOAD_PROGRAM, {.arguments = arguments,
                                                      .environment = environment,
                                                      .workingDirectory = work.Path(),
                                                      .timeoutSeconds = 60});
}

}  // namespace

TEST(Peers, DownloadThroughTinyproxy) {
    Samples samples;
    ASSERT_TRUE(samples.error.empty()) << samples.error;
    Server server(samples);
    ASSERT_TRUE(server.Running()) << server.Log();
    testsupport::TinyProxy proxy(server.Port());
    if (!proxy.Running()) {
        if (testsupport::PeersRequired()) FAIL() << "tinyproxy did not start";
        GTEST_SKIP() << "tinyproxy is not installed";
    }
    testsupport::TempDir work;
    const auto result =
        Download(work,
                 {"-C", "ACME", "-f", "ledger.txt", "-S",
                  "batch:" + (samples / "pw/batch") + "@127.0.0.1:" + server.Port()},
                 {{"ZYMBSERVERPROXY", "user:-password@127.0.0.1:" + proxy.Port()}});
    SCOPED_TRACE("standard error:\n" + result.err);
    ASSERT_EQ(result.exitStatus, 0) << proxy.Log();
    EXPECT_TRUE(ReadFile(work / "ledger.txt") == ReadFile(samples / "originals/ledger.txt"))
        << "ledger.txt differs from the sample";
    // The connection went through the proxy's tunnel to the server's port.
    EXPECT_NE(proxy.Log().find("CONNECT 127.0.0.1:" + server.Port()), std::string::npos)
        << proxy.Log();
}

TEST(Peers, DownloadWithKerberosSingleSignOn) {
    Samples samples;
    ASSERT_TRUE(samples.error.empty()) << samples.error;
    testsupport::Kdc kdc;
    if (!kdc.Running()) {
        if (testsupport::PeersRequired()) FAIL() << kdc.Error();
        GTEST_SKIP() << kdc.Error();
    }
    const std::string keytab = kdc.Path("server.keytab");
    const std::string cache = kdc.Path("tickets");
    ASSERT_TRUE(kdc.AddPrincipal("batch", "kerberos-pw") &&
                kdc.AddPrincipal("corvantix/localhost") &&
                kdc.WriteKeytab("corvantix/localhost", keytab) &&
                kdc.GetTicket("batch", "kerberos-pw", cache))
        << kdc.Error();
    kdc.Export();  // the server finds the realm through the same configuration
    Server server(samples, {"--keytab", keytab});
    ASSERT_TRUE(server.Running()) << server.Log();

    testsupport::TempDir work;
    auto environment = kdc.Environment();
    environment["KRB5CCNAME"] = "FILE:" + cache;
    environment["ZYMBKERBEROS"] = ".";
    // The password is wrong on purpose: only Kerberos can log this run on.
    const auto result = Download(
        work, {"-C", "ACME", "-f", "exact.bin", "-S", "batch:-wrong@127.0.0.1:" + server.Port()},
        environment);
    SCOPED_TRACE("standard error:\n" + result.err);
    ASSERT_EQ(result.exitStatus, 0) << server.Log();
    EXPECT_TRUE(ReadFile(work / "exact.bin") == ReadFile(samples / "data/ACME/exact.bin"))
        << "exact.bin differs from the sample";
    EXPECT_NE(result.err.find("Single Sign-On target is corvantix/localhost"), std::string::npos);
    EXPECT_NE(result.err.find("Single Sign-On was sucessful"), std::string::npos);
    EXPECT_NE(server.Log().find("logon by single sign-on batch"), std::string::npos)
        << server.Log();
}
