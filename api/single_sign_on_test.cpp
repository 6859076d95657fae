// Kerberos single sign-on against a real KDC: a realm on loopback, the user's tickets in
// a temporary cache, the development server accepting with the keytab of its service
// principal. Success with a derived or a given target, and every way it fails: each
// failure is result 121 with no Logon request reaching the server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "api/codes.h"
#include "api/connect.h"
#include "api/exchange.h"
#include "api/file_transfer.h"
#include "api/logon.h"
#include "api/session.h"
#include "devserver/test_server.h"
#include "tests/support/kdc.h"

namespace {

using testsupport::ReadFile;

constexpr const char* kUserPassword = "kerberos-pw";

// One realm for the whole program: the sample user "batch", a principal that is no user
// of the server, and two service principals in the server's keytab. stale.keytab holds
// keys of corvantix/localhost that were replaced afterwards.
class SingleSignOn : public ::testing::Test {
  public:
    static void SetUpTestSuite() {
        kdc_ = new testsupport::Kdc();
        if (!kdc_->Running()) return;
        kdc_->Export();
        const bool made = kdc_->AddPrincipal("batch", kUserPassword) &&
                          kdc_->AddPrincipal("stranger", kUserPassword) &&
                          kdc_->AddPrincipal("corvantix/localhost") &&
                          kdc_->AddPrincipal("corvantix/otherhost") &&
                          kdc_->WriteKeytab("corvantix/localhost", kdc_->Path("stale.keytab")) &&
                          kdc_->WriteKeytab("corvantix/localhost", ServiceKeytab()) &&
                          kdc_->WriteKeytab("corvantix/otherhost", ServiceKeytab());
        if (!made) setUpError_ = kdc_->Error();
    }
    static void TearDownTestSuite() {
        delete kdc_;
        kdc_ = nullptr;
    }
    void SetUp() override {
        if (!kdc_->Running()) {
            if (testsupport::PeersRequired()) FAIL() << kdc_->Error();
            GTEST_SKIP() << kdc_->Error();
        }
        ASSERT_TRUE(setUpError_.empty()) << setUpError_;
        unsetenv("ZYMBKERBEROS");
        unsetenv("ZYMBUSERINHERIT");
        unsetenv("ZYMBNOMD5");
        UseCache(cache_.Path() + "/tickets");
    }
    void TearDown() override { unsetenv("ZYMBKERBEROS"); }

    static std::string ServiceKeytab() { return kdc_->Path("service.keytab"); }
    void UseCache(const std::string& path) {
        cachePath_ = path;
        setenv("KRB5CCNAME", ("FILE:" + path).c_str(), 1);
    }
    void GetTicket(const std::string& principal = "batch") {
        ASSERT_TRUE(kdc_->GetTicket(principal, kUserPassword, cachePath_)) << kdc_->Error();
    }

    static testsupport::Kdc* kdc_;
    static std::string setUpError_;
    testsupport::TempDir cache_;
    std::string cachePath_;
};

testsupport::Kdc* SingleSignOn::kdc_ = nullptr;
std::string SingleSignOn::setUpError_;

// A session connected to the server and logged on with no user and no password.
struct SsoLogon : TestClient {
    explicit SsoLogon(const DevServer& server, uint32_t options = 0)
        : TestClient(server, {.user = nullptr, .password = nullptr, .options = options}) {}
    // The first line that starts with the text, or "".
    std::string Line(const std::string& start) const {
        for (const auto& line : messages.lines) {
            if (line.text.rfind(start, 0) == 0) return line.text;
        }
        return "";
    }
    int ListFiles() {
        return ZYMB10API_FreeResponse(ZYMB10API_ListFiles(&session, "ACME").response);
    }
};

std::vector<std::string> ServerArguments(const std::string& keytab,
                                         std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--keytab", keytab});
    return more;
}

}  // namespace

TEST_F(SingleSignOn, DerivesTheTargetAndLogsOnTheMappedUser) {
    GetTicket();
    DevServer server(ServerArguments(ServiceKeytab()));
    ASSERT_TRUE(server.Running()) << server.Log();
    // "." asks for the derived target; session option 0x4 alone does the same.
    for (const bool byOption : {false, true}) {
        if (!byOption) setenv("ZYMBKERBEROS", ".", 1);
        testsupport::TempDir apiLog;
        setenv("ZYMBAPILOGDIR", apiLog.Path().c_str(), 1);
        SsoLogon logon(server, byOption ? API_SINGLE_SIGN_ON : 0);
        unsetenv("ZYMBAPILOGDIR");
        unsetenv("ZYMBKERBEROS");
        // The first call already completes the context; its token still goes out once,
        // as pass 0.
        char name[64];
        snprintf(name, sizeof name, "/ZYMBAPILOG-%6.6u.txt", static_cast<unsigned>(getpid()));
        const std::string trace = ReadFile(apiLog.Path() + name);
        const size_t pass = trace.find("ZYMB10API_Send: Function(List-SSO) Length(");
        ASSERT_NE(pass, std::string::npos) << trace;
        EXPECT_EQ(trace.find("Function(List-SSO)", pass + 40), std::string::npos) << trace;
        const std::string line = trace.substr(pass, trace.find('\n', pass) - pass);
        EXPECT_NE(line.find("OptArgs(0)"), std::string::npos) << line;
        EXPECT_EQ(line.find("Length(0)"), std::string::npos) << line;
        EXPECT_LT(trace.find("RC(Request OK) Feedback(1)", pass), trace.find("Function(Logon)"));
        ASSERT_EQ(logon.loggedOn, 0) << server.Log();
        const std::vector<std::string> expected = {
            "Logging on to Corvantix Server",
            "Initiating Kerberos Single Sign-On",
            "Single Sign-On target is corvantix/localhost",
            "Single Sign-On was sucessful",
        };
        std::vector<std::string> texts = logon.messages.Texts();
        while (!texts.empty() && texts.front() != expected.front()) texts.erase(texts.begin());
        ASSERT_GE(texts.size(), expected.size());
        EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 4), expected);
        EXPECT_TRUE(logon.messages.Has("Welcome to Server: Corvantix-Dev"));
        EXPECT_EQ(logon.ListFiles(), RC_OK);
    }
    const std::string log = server.Log();
    EXPECT_NE(log.find("single sign-on: principal batch@CORVANTIX.TEST is user batch "
                       "(service corvantix/localhost@CORVANTIX.TEST)"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("logon by single sign-on batch (program 56, client level 100"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Function(List-SSO) Length("), std::string::npos) << log;
}

TEST_F(SingleSignOn, AGivenPrincipalNameIsTheTarget) {
    GetTicket();
    DevServer server(ServerArguments(ServiceKeytab()));
    ASSERT_TRUE(server.Running()) << server.Log();
    for (const char* target : {"corvantix/otherhost", "corvantix/otherhost@CORVANTIX.TEST"}) {
        setenv("ZYMBKERBEROS", target, 1);
        SsoLogon logon(server);
        EXPECT_EQ(logon.loggedOn, 0) << target << "\n" << server.Log();
        EXPECT_TRUE(logon.messages.Has(std::string("Single Sign-On target is ") + target));
    }
    EXPECT_NE(server.Log().find("(service corvantix/otherhost@CORVANTIX.TEST)"), std::string::npos)
        << server.Log();
    EXPECT_EQ(server.Log().find("(service corvantix/localhost"), std::string::npos);
}

TEST_F(SingleSignOn, FailuresGive121AndNoLogonRequest) {
    struct Case {
        const char* name;
        std::function<void(SingleSignOn*)> prepare;
        const char* target;               // ZYMBKERBEROS
        std::string keytab;               // the server's
        std::vector<std::string> errors;  // the error lines in order; "0x" ends a prefix
    };
    const std::string kdestroy = testsupport::FindProgram("kdestroy");
    ASSERT_FALSE(kdestroy.empty());
    // Without credentials the attempt ends at once; from the first pass on it ends with
    // "Single Sign-On failed".
    const std::vector<Case> cases = {
        {"no ticket cache",
         [](SingleSignOn*) {},
         ".",
         ServiceKeytab(),
         {"Unable to acquire credentials handle"}},
        {"destroyed cache",
         [&](SingleSignOn* test) {
             test->GetTicket();
             const auto result = testsupport::RunProgram(
                 kdestroy, {.environment = {{"KRB5CCNAME", "FILE:" + test->cachePath_},
                                            {"KRB5_CONFIG", kdc_->Path("krb5.conf")}}});
             ASSERT_EQ(result.exitStatus, 0) << result.err;
         },
         ".",
         ServiceKeytab(),
         {"Unable to acquire credentials handle"}},
        {"expired ticket",
         [](SingleSignOn* test) {
             ASSERT_TRUE(kdc_->GetTicket("batch", kUserPassword, test->cachePath_, "1s"));
             sleep(3);
         },
         ".",
         ServiceKeytab(),
         {"InitializeSecurityContext failed with error code  0xd0000", "Single Sign-On failed"}},
        {"target the KDC does not know",
         [](SingleSignOn* test) { test->GetTicket(); },
         "corvantix/nowhere",
         ServiceKeytab(),
         {"InitializeSecurityContext failed with error code  0xd0000", "Single Sign-On failed"}},
        {"target that is no principal name",
         [](SingleSignOn* test) { test->GetTicket(); },
         "corvantix/host@ONE@TWO",
         ServiceKeytab(),
         {"InitializeSecurityContext failed with error code  0x", "Single Sign-On failed"}},
        {"server keytab does not match",
         [](SingleSignOn* test) { test->GetTicket(); },
         ".",
         kdc_->Path("stale.keytab"),
         {"Server returned error: Single Sign-On unsuccessful", "Single Sign-On failed"}},
        {"principal that is no user",
         [](SingleSignOn* test) { test->GetTicket("stranger"); },
         ".",
         ServiceKeytab(),
         {"Single Sign-On failed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir cache;
        UseCache(cache.Path() + "/tickets");
        c.prepare(this);
        DevServer server(ServerArguments(c.keytab));
        ASSERT_TRUE(server.Running()) << server.Log();
        setenv("ZYMBKERBEROS", c.target, 1);
        SsoLogon logon(server);
        unsetenv("ZYMBKERBEROS");
        EXPECT_EQ(logon.loggedOn, RC_SINGLE_SIGN_ON_FAILED);
        std::vector<std::string> errors;
        for (const auto& line : logon.messages.lines) {
            if (line.level == MSG_ERROR) errors.push_back(line.text);
        }
        ASSERT_EQ(errors.size(), c.errors.size()) << ::testing::PrintToString(errors);
        for (size_t i = 0; i < errors.size(); ++i) {
            const std::string& expected = c.errors[i];
            const bool prefix = expected.size() > 2 && expected.substr(expected.size() - 2) == "0x";
            EXPECT_EQ(prefix ? errors[i].substr(0, expected.size()) : errors[i], expected);
        }
        if (errors.size() > 1) {
            const std::string target =
                strcmp(c.target, ".") == 0 ? "corvantix/localhost" : c.target;
            EXPECT_TRUE(logon.messages.Has("Single Sign-On target is " + target));
        }
        EXPECT_EQ(logon.Line("Welcome"), "");
        const std::string log = server.Log();
        EXPECT_EQ(log.find("Function(Logon)"), std::string::npos) << log;
        EXPECT_EQ(log.find("logon by"), std::string::npos) << log;
        EXPECT_EQ(logon.ListFiles(), RC_NO_LOGON);
    }
}

TEST_F(SingleSignOn, ALogonWithoutCredentialsNeedsSingleSignOnFirst) {
    DevServer server(ServerArguments(ServiceKeytab()));
    ASSERT_TRUE(server.Running()) << server.Log();
    // An empty user and password is not a single sign-on: the server refuses it.
    {
        TestClient client(server, {.user = "", .password = ""});
        ASSERT_EQ(client.connected, 0);
        EXPECT_EQ(client.loggedOn, RC_AUTHORIZATION_FAILURE);
    }
    EXPECT_NE(server.Log().find("logon by user ID - (program 56"), std::string::npos)
        << server.Log();
}

// The server misbehaving in each request of a Kerberos logon: the List-SSO pass, the
// Logon after it and the ID-Server request.
TEST_F(SingleSignOn, ServerFaultsDuringTheExchange) {
    GetTicket();
    struct Case {
        std::string fault;
        int rc;
        std::vector<std::string> messages;
        bool logonSent;
    };
    const std::vector<Case> cases = {
        // A token far larger than Kerberos makes, with Feedback still 1.
        {"payload-size=" + std::to_string(SSO_TOKEN_LIMIT + 1) + "@1",
         RC_SINGLE_SIGN_ON_FAILED,
         {"Server returned error: Received failed", "Single Sign-On failed"},
         false},
        {"close-mid-header@1",
         RC_SINGLE_SIGN_ON_FAILED,
         {"Server returned error: Received failed", "Single Sign-On failed"},
         false},
        {"close-mid-payload@1",
         RC_SINGLE_SIGN_ON_FAILED,
         {"Server returned error: Received failed", "Single Sign-On failed"},
         false},
        {"rc=121@1",
         RC_SINGLE_SIGN_ON_FAILED,
         {"Server returned error: Single Sign-On unsuccessful", "Single Sign-On failed"},
         false},
        {"close-mid-header@2",
         RC_RECEIVE_FAILED,
         {"Single Sign-On was sucessful", "Logon failed: Received failed"},
         true},
        {"close-mid-header@3",
         RC_OK,
         {"Single Sign-On was sucessful", "Welcome to Server: "},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        DevServer server(ServerArguments(ServiceKeytab(), {"--fault", c.fault}));
        ASSERT_TRUE(server.Running()) << server.Log();
        setenv("ZYMBKERBEROS", ".", 1);
        SsoLogon logon(server);
        unsetenv("ZYMBKERBEROS");
        EXPECT_EQ(logon.loggedOn, c.rc);
        for (const std::string& message : c.messages) {
            EXPECT_TRUE(logon.messages.Has(message)) << "missing: " << message;
        }
        // The handler's own line: written before its reply leaves.
        EXPECT_EQ(server.Log().find("logon by single sign-on batch") != std::string::npos,
                  c.logonSent)
            << server.Log();
    }
}
