// The download program's argument intake as its users meet it: a command line, a CGI
// request by GET or POST, argument files, the password forms (the prompt typed on a real
// pseudo-terminal), the documentation fragments, and the frame's configuration file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using testsupport::ChildOptions;
using testsupport::ChildResult;
using testsupport::Lines;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

const char* const kProgram = ZYMB_DOWNLOAD_PROGRAM;

// Variables of the caller's environment that would change what the program does.
const char* const kCleared[] = {"REQUEST_URI",    "REQUEST_METHOD", "QUERY_STRING",
                                "CONTENT_LENGTH", "CONTENT_TYPE",   "ZYMBPWPATH",
                                "ZYMBSTDERRDIR",  "DOCBOOK",        "ZYMBSERVERPROXY",
                                "ZYMBSLACKURL",   "POSIXLY_CORRECT"};

class Intake : public testing::Test {
  protected:
    // A server string for a loopback port nothing listens on, so that a run that gets
    // past its arguments ends quickly whatever follows the password step.
    Intake() : address_("127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort())) {}

    ChildResult Run(std::vector<std::string> arguments,
                    std::map<std::string, std::optional<std::string>> environment = {},
                    std::string input = "") {
        ChildOptions options;
        options.arguments = std::move(arguments);
        for (const char* name : kCleared) options.environment[name] = std::nullopt;
        for (auto& [name, value] : environment) options.environment[name] = value;
        options.input = std::move(input);
        options.workingDirectory = work_.Path();
        options.timeoutSeconds = 20;
        ChildResult result = testsupport::RunProgram(kProgram, options);
        EXPECT_EQ(result.signal, 0) << "the program was killed or crashed:\n" << result.err;
        return result;
    }

    std::map<std::string, std::optional<std::string>> Cgi(const std::string& method) {
        return {{"REQUEST_URI", "/cgi-bin/ZYMB10DownloadFile"},
                {"REQUEST_METHOD", method},
                {"GATEWAY_INTERFACE", "CGI/1.1"}};
    }

    std::string address_;
    TempDir work_;
};

// A log line "ZBT<digits><letter>-HH:MM:SS <text>" as "<digits><letter> <text>", or "".
std::string Entry(const std::string& line) {
    if (!line.starts_with("ZBT")) return "";
    size_t digits = 3;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') ++digits;
    const size_t time = digits + 2, text = time + 9;
    if (digits < 6 || line.size() < text ||
        std::string("EWIND").find(line[digits]) == std::string::npos || line[digits + 1] != '-' ||
        line[time + 2] != ':' || line[time + 5] != ':' || line[time + 8] != ' ')
        return "";
    return line.substr(3, digits - 2) + " " + line.substr(text);
}

// The log lines from "Program Options:" to the summary, as entries.
std::vector<std::string> Listing(const std::string& log) {
    std::vector<std::string> listing;
    for (const std::string& line : Lines(log)) {
        std::string entry = Entry(line);
        if (listing.empty() && entry != "002N Program Options:") continue;
        listing.push_back(entry);
        if (entry.find(" Arguments parsed and validated") != std::string::npos) break;
    }
    return listing;
}

bool HasLine(const std::string& log, const std::string& entry) {
    for (const std::string& line : Lines(log))
        if (Entry(line) == entry) return true;
    return false;
}

std::vector<std::string> GoodListing() {
    return {"002N Program Options:",
            "002N \t(C) Customer-ID=ABCD",
            "002N \t(S) Server=<VALUE HIDDEN>",
            "002N \t(f) File Name Filter=*.dat",
            "002N \t(i) Generation index=1",
            "002N \t(l) List Files=false",
            "002N \t(o) Output File Name=",
            "002N \t(p) Strip Path=false",
            "000N Arguments parsed and validated with 0 errors"};
}

TEST_F(Intake, CommandLineListsTheOptionsWithTheServerHidden) {
    TempDir logs;
    for (bool redirected : {false, true}) {
        std::map<std::string, std::optional<std::string>> environment;
        if (redirected) environment["ZYMBSTDERRDIR"] = logs.Path();
        auto result =
            Run({"-C", "ABCD", "-f", "*.dat", "-S", "user:-secret@" + address_}, environment);
        std::string log = result.err;
        if (redirected) {
            auto files = std::filesystem::directory_iterator(logs.Path());
            ASSERT_NE(files, std::filesystem::directory_iterator());
            log = ReadFile(files->path());
        }
        EXPECT_EQ(Listing(log), GoodListing()) << log;
        EXPECT_TRUE(HasLine(log, "000N Parsing and validating command arguments"));
        EXPECT_TRUE(HasLine(log, "001N Server Interpreted as: Server(127.0.0.1) Port(" +
                                     address_.substr(10) + ") User(user) Password(******)"));
        EXPECT_EQ(log.find("secret"), std::string::npos) << log;
        EXPECT_EQ(result.out.find("secret"), std::string::npos);
        EXPECT_EQ(log.find("Password value is empty"), std::string::npos);
    }
}

TEST_F(Intake, MissingRequiredOptionEndsWithStatusOne) {
    auto result = Run({"-f", "*.dat", "-S", "user@" + address_});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(HasLine(result.err, "000E Value for argument -C is blank and a value is required"));
    EXPECT_TRUE(HasLine(result.err, "002E \t(C) Customer-ID="));
    EXPECT_TRUE(HasLine(result.err, "000E Arguments parsed and validated with 1 errors"));
    EXPECT_TRUE(HasLine(result.err, "999N Program ended with RC=1 (Failure)"));
    // The run ends before the password step.
    EXPECT_EQ(result.err.find("Password value is empty"), std::string::npos);
}

TEST_F(Intake, GetoptReportsUnknownOptionsAndMissingValues) {
    auto unknown = Run({"-x", "-C", "ABCD", "-f", "*.dat", "-S", "u:-p@" + address_});
    EXPECT_NE(unknown.err.find("invalid option -- 'x'"), std::string::npos) << unknown.err;
    EXPECT_EQ(Listing(unknown.err).back(), "000N Arguments parsed and validated with 0 errors");

    auto missing = Run({"-f", "*.dat", "-C"});
    EXPECT_NE(missing.err.find("option requires an argument -- 'C'"), std::string::npos);
    EXPECT_TRUE(
        HasLine(missing.err, "000E Value for argument -C is blank and a value is required"));
    EXPECT_EQ(missing.exitStatus, 1);
}

TEST_F(Intake, ArgumentFileFromStandardInput) {
    WriteFile(work_ / "server", "user:-secret@" + address_ + "\n");
    auto result = Run({"-C", "*FI:stdin", "-f", "*.dat", "-S", "*FI:" + (work_ / "server")}, {},
                      "   ABCD  \r\n");
    EXPECT_EQ(Listing(result.err), GoodListing()) << result.err;
    EXPECT_EQ(result.err.find("secret"), std::string::npos);
}

TEST_F(Intake, CgiGetAndPostGiveTheSameListing) {
    std::string form = "C=ABCD&f=%2A.dat&S=user%3A-secret%40" + address_.substr(0, 9) + "%3A" +
                       address_.substr(10);
    auto get = Cgi("GET");
    get["QUERY_STRING"] = form;
    auto byGet = Run({}, get);
    EXPECT_EQ(Listing(byGet.err), GoodListing()) << byGet.err;
    EXPECT_TRUE(HasLine(byGet.err, "000N Parsing and validating CGI arguments"));

    auto post = Cgi("POST");
    post["CONTENT_LENGTH"] = std::to_string(form.size());
    post["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    post["QUERY_STRING"] = "C=WRONG";
    auto byPost = Run({}, post, form);
    EXPECT_EQ(Listing(byPost.err), GoodListing()) << byPost.err;

    for (const ChildResult* result : {&byGet, &byPost}) {
        EXPECT_EQ(result->err.find("secret"), std::string::npos);
        EXPECT_EQ(result->out.find("secret"), std::string::npos);
    }
}

TEST_F(Intake, CgiLowerCaseNamesAndNoArgumentFiles) {
    auto get = Cgi("get");
    get["QUERY_STRING"] = "c=*FI:/etc/hostname&F=x&s=u%3A-p%40" + address_;
    auto result = Run({"-C", "ignored"}, get);
    EXPECT_TRUE(HasLine(result.err, "002N \t(C) Customer-ID=*FI:/etc/hostname")) << result.err;
    EXPECT_TRUE(HasLine(result.err, "002N \t(f) File Name Filter=x"));
    EXPECT_TRUE(HasLine(result.err, "002N \t(S) Server=<VALUE HIDDEN>"));
}

TEST_F(Intake, CgiRequestIsNeverPromptedForAPassword) {
    auto get = Cgi("GET");
    get["QUERY_STRING"] = "C=ABCD&f=x&S=user%3A%252B%40" + address_;  // "+" survives two decodings
    auto result = Run({}, get);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_TRUE(HasLine(result.err,
                        "000E Server string refused under a web server: its password part may "
                        "only be a literal password or empty, not a file or a prompt"))
        << result.err;
    EXPECT_EQ(result.out.find("Password:"), std::string::npos) << result.out;
}

TEST_F(Intake, CgiPostBodyThatFallsShortEndsTheRun) {
    struct Case {
        std::string length, body, line;
    };
    const std::vector<Case> cases = {
        {"1000", "C=ABCD&f=x", "000E CGI request body ended after 10 of 1000 bytes"},
        {"99999999999", "C=ABCD",
         "000E CGI request length 99999999999 is more than the 1048576 bytes accepted"},
        {"12abc", "C=ABCD", "000E CGI request length '12abc' is not a number"},
        {"-5", "C=ABCD", "000E CGI request length '-5' is not a number"},
    };
    for (const Case& c : cases) {
        auto post = Cgi("POST");
        post["CONTENT_LENGTH"] = c.length;
        auto start = std::chrono::steady_clock::now();
        auto result = Run({}, post, c.body);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
        EXPECT_EQ(result.exitStatus, 1) << c.length;
        EXPECT_TRUE(HasLine(result.err, c.line)) << result.err;
        EXPECT_TRUE(HasLine(result.err, "002E \t(C) Customer-ID=")) << c.length;
    }
}

TEST_F(Intake, CgiOddRequestsNeverCrash) {
    const std::string huge(100000, 'h');
    struct Case {
        std::string method, query, customerShown, line;
    };
    const std::vector<Case> cases = {
        {"GET", "C=AB%ZZ&C=second&f=%25", "002N \t(C) Customer-ID=AB%ZZ", ""},
        {"GET", "C=%&f=%G1&&&===&C", "002N \t(C) Customer-ID=%", ""},
        {"GET", "C=" + huge + "&f=x", "002N \t(C) Customer-ID=" + huge.substr(0, 400), ""},
        {"GET", "C=%2500&f=%00",
         "002E \t(C) Customer-ID=", "000E CGI value of argument -C holds a zero byte"},
        {"PUT", "C=ABCD&f=x",
         "002E \t(C) Customer-ID=", "000W CGI request method PUT carries no form variables"},
        {"", "C=ABCD&f=x", "002N \t(C) Customer-ID=ABCD", ""},
    };
    for (const Case& c : cases) {
        auto get = Cgi(c.method);
        get["QUERY_STRING"] = c.query;
        auto result = Run({}, get);
        EXPECT_TRUE(result.exitStatus == 0 || result.exitStatus == 1) << c.query.substr(0, 40);
        auto listing = Listing(result.err);
        ASSERT_GE(listing.size(), 2u) << result.err.substr(0, 2000);
        EXPECT_TRUE(listing[1].starts_with(c.customerShown)) << listing[1].substr(0, 100);
        if (!c.line.empty()) {
            EXPECT_TRUE(HasLine(result.err, c.line)) << result.err;
        }
    }
}

TEST_F(Intake, PasswordFromFilesAndTheDirectory) {
    WriteFile(work_ / "user", "  Dir3ctorySecret \r\n");
    WriteFile(work_ / "pwfile", "F1leSecret\n");
    auto fromDirectory =
        Run({"-C", "ABCD", "-f", "x", "-S", "user@" + address_}, {{"ZYMBPWPATH", work_.Path()}});
    EXPECT_TRUE(HasLine(fromDirectory.err,
                        "001N Password value set from environment to: " + (work_ / "user")));
    EXPECT_TRUE(HasLine(fromDirectory.err, "001N Password obtained OK"));

    auto fromFile =
        Run({"-C", "ABCD", "-f", "x", "-S", "user:" + (work_ / "pwfile") + "@" + address_});
    EXPECT_TRUE(
        HasLine(fromFile.err, "001N Getting password from Password File: " + (work_ / "pwfile")));
    EXPECT_TRUE(HasLine(fromFile.err, "001N Password obtained OK"));

    for (const ChildResult* result : {&fromDirectory, &fromFile})
        for (const char* secret : {"Dir3ctorySecret", "F1leSecret"}) {
            EXPECT_EQ(result->err.find(secret), std::string::npos);
            EXPECT_EQ(result->out.find(secret), std::string::npos);
        }
}

TEST_F(Intake, NoPasswordEndsWithStatusOne) {
    auto missing =
        Run({"-C", "ABCD", "-f", "x", "-S", "user:" + (work_ / "none") + "@" + address_});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_TRUE(HasLine(missing.err,
                        "001E Failed to open Password File: No such file or "
                        "directory (" +
                            (work_ / "none") + ")"));
    EXPECT_TRUE(HasLine(missing.err, "999N Program ended with RC=1 (Failure)"));

    // No server option, no ZYMBPWPATH: the default directory, named in the warning.
    auto defaulted = Run({"-C", "ABCD", "-f", "x"});
    EXPECT_TRUE(HasLine(defaulted.err,
                        "001W No password file passed, defaulting to: /etc/corvantix/pw/batch"))
        << defaulted.err;
}

// The program with all three standard streams on a new pseudo-terminal.
class TerminalRun {
  public:
    explicit TerminalRun(const std::vector<std::string>& arguments) {
        std::vector<std::string> words = {kProgram};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        fflush(nullptr);
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            for (const char* name : kCleared) unsetenv(name);
            execv(kProgram, argv.data());
            _exit(127);
        }
    }
    ~TerminalRun() {
        if (master_ >= 0) close(master_);
        if (pid_ > 0) Wait();
    }

    // Reads until the screen shows the text; false after ten seconds or at the end.
    bool WaitFor(const std::string& text) {
        return testsupport::ReadTerminal(master_, &screen_, text, 10000);
    }
    void Type(const std::string& keys) {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    // Reads to the end and returns the exit status (-1 when killed).
    int Wait() {
        WaitFor(std::string(1, '\0'));  // never on screen: reads until the terminal closes
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Screen() const { return screen_; }

  private:
    int master_ = -1;
    pid_t pid_ = -1;
    std::string screen_;
};

TEST_F(Intake, PromptTakesKeystrokesWithoutShowingThem) {
    TerminalRun run({"-C", "ABCD", "-f", "x", "-S", "user:+@" + address_});
    ASSERT_TRUE(run.WaitFor("Password:")) << run.Screen();
    run.Type("Typ3dSecret\r");
    ASSERT_TRUE(run.WaitFor("***********\r\n")) << run.Screen();
    run.Wait();
    EXPECT_EQ(run.Screen().find("Typ3dSecret"), std::string::npos) << run.Screen();
    EXPECT_EQ(run.Screen().find("************"), std::string::npos) << "one star a key";
    EXPECT_EQ(run.Screen().find("Failed to open Password File"), std::string::npos);
}

TEST_F(Intake, ControlCAtThePromptIsAnInterrupt) {
    TerminalRun run({"-C", "ABCD", "-f", "x", "-S", "user:+@" + address_});
    ASSERT_TRUE(run.WaitFor("Password:")) << run.Screen();
    run.Type("ab\x03");
    EXPECT_EQ(run.Wait(), 128 + SIGINT);
    EXPECT_NE(run.Screen().find("Control-C Entered Program Terminating"), std::string::npos)
        << run.Screen();
    EXPECT_EQ(run.Screen().find("Program Complete"), std::string::npos);
}

TEST_F(Intake, DocbookWritesThreeWellFormedFragments) {
    auto result = Run({}, {{"DOCBOOK", "1"}});
    std::string xmllint = testsupport::FindProgram("xmllint");
    if (xmllint.empty() && testsupport::PeersRequired()) FAIL() << "xmllint is missing";
    for (const char* part : {"refnamediv", "refsynopsisdiv", "options"}) {
        std::string path = work_ / ("ZYMB10DownloadFile_" + std::string(part) + ".xml");
        ASSERT_FALSE(ReadFile(path).empty()) << path;
        if (xmllint.empty()) continue;
        auto check = testsupport::RunProgram(xmllint, {.arguments = {"--noout", path}});
        EXPECT_EQ(check.exitStatus, 0) << path << ": " << check.err;
    }
    std::string synopsis = ReadFile(work_ / "ZYMB10DownloadFile_refsynopsisdiv.xml");
    EXPECT_NE(synopsis.find("      <command>ZYMB10DownloadFile</command>\n"
                            "      <arg>-C <replaceable>option-C</replaceable></arg>\n"
                            "      <arg>-f <replaceable>option-f</replaceable></arg>\n"
                            "      <arg>-i <replaceable>option-i</replaceable></arg>\n"
                            "      <arg>-o <replaceable>option-o</replaceable></arg>\n"
                            "      <arg>-p</arg>\n"
                            "      <arg>-l</arg>\n"
                            "      <arg>-S <replaceable>logonstring</replaceable></arg>\n"
                            "</cmdsynopsis>\n"),
              std::string::npos)
        << synopsis;
    std::string options = ReadFile(work_ / "ZYMB10DownloadFile_options.xml");
    EXPECT_NE(options.find("<listitem><para>Generation index.</para></listitem>"),
              std::string::npos);
    EXPECT_NE(options.find("<xi:include href=\"../common/reference_option_server.xml\"/>"),
              std::string::npos);
    EXPECT_NE(ReadFile(work_ / "ZYMB10DownloadFile_refnamediv.xml")
                  .find("<refpurpose>this program will download a file.</refpurpose>"),
              std::string::npos);
}

// A web server in front of the program: lighttpd with mod_cgi runs it for a GET and a POST.
class WebServer {
  public:
    explicit WebServer(const TempDir& root) : port_(testsupport::FreeLoopbackPort()) {
        std::filesystem::create_directories(root / "www/cgi-bin");
        std::filesystem::create_symlink(kProgram, root / "www/cgi-bin/ZYMB10DownloadFile");
        // The program inherits the server's standard error, which goes to this file.
        errorLog_ = root / "server.out";
        std::string config;
        config += "server.document-root = \"" + (root / "www") + "\"\n";
        config += "server.bind = \"127.0.0.1\"\n";
        config += "server.port = " + std::to_string(port_) + "\n";
        config += "server.modules = ( \"mod_cgi\" )\n";
        config += "server.errorlog = \"" + (root / "error.log") + "\"\n";
        config += "$HTTP[\"url\"] =~ \"^/cgi-bin/\" { cgi.assign = ( \"\" => \"\" ) }\n";
        WriteFile(root / "lighttpd.conf", config);
        std::string lighttpd = testsupport::FindProgram("lighttpd");
        if (lighttpd.empty()) lighttpd = "/usr/sbin/lighttpd";
        started_ = access(lighttpd.c_str(), X_OK) == 0 &&
                   server_.Start(lighttpd, {"-D", "-f", root / "lighttpd.conf"}, {}, errorLog_) &&
                   testsupport::WaitForPort(port_);
    }
    bool Started() const { return started_; }

    // Sends one request and waits for the whole answer; returns what the program logged.
    std::string Request(const std::string& method, const std::string& target,
                        const std::string& body = "") {
        size_t before = ReadFile(errorLog_).size();
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        std::string request =
            method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + "Connection: close\r\n";
        if (method == "POST")
            request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n";
        request += "\r\n" + body;
        EXPECT_EQ(send(fd, request.data(), request.size(), 0),
                  static_cast<ssize_t>(request.size()));
        char buffer[4096];
        pollfd poller{fd, POLLIN, 0};
        while (poll(&poller, 1, 20000) == 1 && recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        close(fd);
        std::string logged;
        for (int i = 0; i < 200 && logged.find(" Program ended with RC=") == std::string::npos;
             ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            logged = ReadFile(errorLog_).substr(before);
        }
        return logged;
    }

  private:
    int port_;
    std::string errorLog_;
    testsupport::BackgroundProcess server_;
    bool started_ = false;
};

TEST_F(Intake, UnderLighttpdByGetAndPost) {
    TempDir root;
    WebServer web(root);
    if (!web.Started()) {
        if (testsupport::PeersRequired()) FAIL() << "lighttpd could not be started";
        GTEST_SKIP() << "lighttpd is not available";
    }
    std::string form = "C=ABCD&f=%2A.dat&S=user%3A-secret%40127.0.0.1%3A" + address_.substr(10);
    std::string byGet = web.Request("GET", "/cgi-bin/ZYMB10DownloadFile?" + form);
    EXPECT_TRUE(HasLine(byGet, "000N Parsing and validating CGI arguments")) << byGet;
    EXPECT_EQ(Listing(byGet), GoodListing()) << byGet;
    std::string byPost = web.Request("POST", "/cgi-bin/ZYMB10DownloadFile?C=WRONG", form);
    EXPECT_EQ(Listing(byPost), GoodListing()) << byPost;
    EXPECT_EQ((byGet + byPost).find("secret"), std::string::npos);
}

// The download program reads no configuration file; the frame's test driver does.
TEST(FrameConfiguration, PrefixSuffixFiltersAndFailures) {
    TempDir work;
    WriteFile(work / "good.cfg", R"(options: {
  stdout: { prefix = "Content-Type: text/plain~"; suffix = "-- end --"; };
  filters = ( { filter = "Elapsed time*"; } );
};
)");
    auto good =
        testsupport::RunProgram(ZYMB_FRAME_DRIVER, {.arguments = {"config", work / "good.cfg"}});
    EXPECT_EQ(good.exitStatus, 0) << good.err;
    EXPECT_EQ(good.out, "Content-Type: text/plain\n\n-- end --\n");
    EXPECT_NE(good.err.find(" Reading Config File " + (work / "good.cfg") + "\n"),
              std::string::npos);
    EXPECT_NE(good.err.find(" Program Complete\n"), std::string::npos);
    EXPECT_EQ(good.err.find("Elapsed time"), std::string::npos) << good.err;

    WriteFile(work / "bad.cfg", "options: {\n  stdout: { prefix = ; };\n};\n");
    auto bad =
        testsupport::RunProgram(ZYMB_FRAME_DRIVER, {.arguments = {"config", work / "bad.cfg"}});
    EXPECT_EQ(bad.exitStatus, 1);
    EXPECT_NE(bad.err.find(" Load of config file failed: Line(2) - Error(syntax error)\n"),
              std::string::npos)
        << bad.err;
    EXPECT_TRUE(bad.out.empty());
}

}  // namespace
