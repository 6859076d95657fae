// Passwords: the literal, the password file forms with their log lines, and the prompt
// answered with real keystrokes through a pseudo-terminal. No password reaches the log.
#include "frame/password.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "frame/captured_context.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

class Password : public testing::Test {
  protected:
    ~Password() override { unsetenv("ZYMBPWPATH"); }

    // The password, or "<none>".
    std::string Get(const char* user, const std::string& passwordSource) {
        char out[PASSWORD_BUFFER_SIZE];
        memset(out, 'Q', sizeof out);
        char* result = GetPassword(&log_.context, user, passwordSource.c_str(), "zymb", out);
        if (result == nullptr) {
            EXPECT_EQ(out[0], 0);
            return "<none>";
        }
        EXPECT_EQ(result, out);
        return out;
    }

    std::string File(const std::string& name, const std::string& content) {
        std::string path = dir_ / name;
        WriteFile(path, content);
        return path;
    }

    CapturedContext log_;
    TempDir dir_;
};

TEST_F(Password, LiteralIsTakenAsItIsAndNotLogged) {
    EXPECT_EQ(Get("batch", "-se:cr@t -x"), "se:cr@t -x");
    EXPECT_EQ(Get("batch", "-"), "");
    EXPECT_EQ(Get("batch", "-" + std::string(1023, 'p')), std::string(1023, 'p'));
    EXPECT_TRUE(log_.Raw().empty());
    // One that does not fit is refused with a word, never sent cut.
    EXPECT_EQ(Get("batch", "-" + std::string(1024, 'p')), "<none>");
    EXPECT_NE(log_.Raw().find("Password given in the server string is longer than 1023 characters"),
              std::string::npos);
}

TEST_F(Password, FileFirstLineKeepsTypedCharactersTrimmed) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  pass word \t\r\nsecond\n", "pass word"},
        {"no-line-end", "no-line-end"},
        {"", ""},
        {"\n", ""},
        {std::string("\x01pa\0ss\x7f\x1b\n", 10), "pass"},
        {"p\xc3\xa4ssw\xc3\xb6rd\n", "p\xc3\xa4ssw\xc3\xb6rd"},
        {std::string(3000, 'k') + "\n", std::string(1023, 'k')},
    };
    for (const auto& [content, password] : cases) {
        std::string path = File("pw", content);
        EXPECT_EQ(Get("batch", path), password) << content;
    }
    std::string raw = log_.Raw();
    EXPECT_EQ(raw.find("pass word"), std::string::npos);
    EXPECT_EQ(raw.find("no-line-end"), std::string::npos);
    auto entries = log_.Entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0], "001N Getting password from Password File: " + (dir_ / "pw"));
    EXPECT_EQ(entries[1], "001N Password obtained OK");
}

TEST_F(Password, UnreadableFilesGiveNone) {
    EXPECT_EQ(Get("batch", dir_ / "missing"), "<none>");
    EXPECT_EQ(Get("batch", dir_.Path()), "<none>");
    auto entries = log_.Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1], "001E Failed to open Password File: No such file or directory (" +
                              (dir_ / "missing") + ")");
    EXPECT_EQ(entries[3],
              "001E Failed to open Password File: Is a directory (" + dir_.Path() + ")");
}

TEST_F(Password, EmptySourceUsesThePasswordDirectory) {
    File("alice", " from-directory \n");
    setenv("ZYMBPWPATH", dir_.Path().c_str(), 1);
    EXPECT_EQ(Get("alice", ""), "from-directory");
    std::vector<std::string> expected = {
        "001N Password value is empty so checking for environment variable (ZYMBPWPATH)",
        "001N Password value set from environment to: " + (dir_ / "alice"),
        "001N Getting password from Password File: " + (dir_ / "alice"),
        "001N Password obtained OK"};
    EXPECT_EQ(log_.Entries(), expected);
}

TEST_F(Password, DefaultDirectoryWithoutZymbPwPath) {
    unsetenv("ZYMBPWPATH");
    Get("batch", "");
    auto entries = log_.Entries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[1], "001W No password file passed, defaulting to: /etc/corvantix/pw/batch");
    EXPECT_EQ(entries[2], "001N Getting password from Password File: /etc/corvantix/pw/batch");
}

TEST_F(Password, LongNamesAreCutNotOverrun) {
    std::string user(2000, 'u');
    setenv("ZYMBPWPATH", dir_.Path().c_str(), 1);
    EXPECT_EQ(Get(user.c_str(), ""), "<none>");
    unsetenv("ZYMBPWPATH");
    EXPECT_EQ(Get(user.c_str(), ""), "<none>");
    auto entries = log_.Entries();
    std::string defaulted = "001W No password file passed, defaulting to: ";
    bool found = false;
    for (const auto& e : entries)
        if (e.rfind(defaulted, 0) == 0) {
            found = true;
            EXPECT_EQ(e.size() - defaulted.size(), 254u);
        }
    EXPECT_TRUE(found);
}

// The prompt, run in a child on a new pseudo-terminal; the test types into the master.
struct PromptRun {
    bool obtained = false;
    std::string password;
    std::string screen;      // everything the terminal showed
    bool echoAfter = false;  // echo was back on once the prompt returned
};

class Prompt : public Password {
  protected:
    // Types keys once the prompt shows; closeAfterKeys hangs the terminal up instead of
    // waiting for the child to end on its own.
    PromptRun Run(const std::string& keys, bool closeAfterKeys = false) {
        PromptRun run;
        int results[2];
        EXPECT_EQ(pipe(results), 0);
        fflush(nullptr);
        int master = -1;
        pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            close(results[0]);
            char out[PASSWORD_BUFFER_SIZE];
            char* got = GetPassword(&log_.context, "batch", "+", "zymb", out);
            termios now;
            bool echo = tcgetattr(STDIN_FILENO, &now) == 0 && (now.c_lflag & ECHO) != 0;
            std::string report = std::string(got != nullptr ? "1" : "0") + (echo ? "1" : "0") +
                                 (got != nullptr ? got : "");
            (void)!write(results[1], report.data(), report.size());
            _exit(0);
        }
        close(results[1]);
        EXPECT_GT(pid, 0);
        ReadUntil(master, &run.screen, "Password:");
        for (size_t sent = 0; sent < keys.size();) {
            ssize_t n = write(master, keys.data() + sent, keys.size() - sent);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        if (closeAfterKeys) {
            ReadUntil(master, &run.screen, std::string(3, '*'));
            close(master);
            master = -1;
        } else {
            ReadUntil(master, &run.screen, "");  // to the end of the child
        }
        std::string report;
        char buffer[4096];
        ssize_t n;
        while ((n = read(results[0], buffer, sizeof buffer)) > 0)
            report.append(buffer, static_cast<size_t>(n));
        close(results[0]);
        if (master >= 0) close(master);
        int status = 0;
        waitpid(pid, &status, 0);
        if (report.size() >= 2) {
            run.obtained = report[0] == '1';
            run.echoAfter = report[1] == '1';
            run.password = report.substr(2);
        }
        return run;
    }

    // Reads the master until the screen holds the text (or, for "", until the child
    // closes the terminal); at most ten seconds.
    static void ReadUntil(int master, std::string* screen, const std::string& text) {
        testsupport::ReadTerminal(master, screen, text, 10000);
    }
};

TEST_F(Prompt, KeystrokesAreReadWithoutEcho) {
    PromptRun run =
        Run("s3cr\x7f"
            "et\r");
    EXPECT_TRUE(run.obtained);
    EXPECT_EQ(run.password,
              "s3cr\x7f"
              "et");  // editing keys have no meaning
    EXPECT_NE(run.screen.find("Password:\r"), std::string::npos) << run.screen;
    EXPECT_NE(run.screen.find("*******"), std::string::npos) << run.screen;
    EXPECT_EQ(run.screen.find("********"), std::string::npos) << run.screen;
    EXPECT_EQ(run.screen.find("s3cr"), std::string::npos) << run.screen;
    EXPECT_TRUE(run.echoAfter);
    EXPECT_EQ(log_.Raw().find("s3cr"), std::string::npos);
}

TEST_F(Prompt, EnterAloneAndLineFeed) {
    PromptRun empty = Run("\r");
    EXPECT_TRUE(empty.obtained);
    EXPECT_EQ(empty.password, "");
    PromptRun lineFeed = Run("abc\ndef\r");
    EXPECT_TRUE(lineFeed.obtained);
    EXPECT_EQ(lineFeed.password, "abc");
}

TEST_F(Prompt, StopsAt1023Characters) {
    PromptRun run = Run(std::string(1100, 'a'));
    EXPECT_TRUE(run.obtained);
    EXPECT_EQ(run.password, std::string(1023, 'a'));
    EXPECT_TRUE(run.echoAfter);
}

TEST_F(Prompt, EndOfInputGivesNone) {
    PromptRun controlD = Run("abc\x04");
    EXPECT_FALSE(controlD.obtained);
    EXPECT_TRUE(controlD.echoAfter);
    PromptRun hangUp = Run("abc", true);
    EXPECT_FALSE(hangUp.obtained);
    std::string raw = log_.Raw();
    EXPECT_NE(raw.find("Password not read from the terminal: input ended before Enter"),
              std::string::npos)
        << raw;
}

TEST_F(Password, NoPromptForACgiRequest) {
    log_.context.flags |= CTX_CGI;
    fflush(stdout);
    EXPECT_EQ(Get("batch", "+"), "<none>");
    std::vector<std::string> expected = {
        "001E Password not read from the terminal: no prompt for a CGI request"};
    EXPECT_EQ(log_.Entries(), expected);
}

TEST_F(Password, PromptWithoutATerminalGivesNone) {
    // A child with no controlling terminal: its own session, standard streams on pipes.
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        char out[PASSWORD_BUFFER_SIZE];
        _exit(GetPassword(&log_.context, "batch", "+", "zymb", out) == nullptr ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto entries = log_.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].rfind("001E Password not read from the terminal: ", 0), 0u) << entries[0];
}

}  // namespace
