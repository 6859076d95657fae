// Xvfb for the window tests: -displayfd lets the server pick a free display number and tell
// it once it accepts clients.
#include "batch/test_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/test_support.h"

TestDisplay::~TestDisplay() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
}

bool TestDisplay::Start(int width, int height, std::string* reason) {
    std::string server = testsupport::FindProgram("Xvfb");
    if (server.empty()) {
        *reason = "Xvfb is not installed (Debian package xvfb)";
        return false;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        *reason = "no pipe for Xvfb";
        return false;
    }
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::string fdText = std::to_string(pipeFds[1]);
    pid_ = fork();
    if (pid_ == 0) {
        fcntl(pipeFds[1], F_SETFD, 0);  // the one descriptor the server keeps
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(server.c_str(), "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", screen.c_str(),
              "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string number;
    pollfd reader{pipeFds[0], POLLIN, 0};
    while (poll(&reader, 1, 10000) == 1) {
        char c;
        if (read(pipeFds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(pipeFds[0]);
    if (number.empty()) {
        *reason = "Xvfb did not come up";
        return false;
    }
    name_ = ":" + number;
    return true;
}

bool TestDisplay::Screenshot(const std::string& path) const {
    std::string import = testsupport::FindProgram("import");
    if (import.empty()) return false;
    testsupport::ChildOptions options;
    options.arguments = {"-display", name_, "-window", "root", path};
    return testsupport::RunProgram(import, options).exitStatus == 0;
}
