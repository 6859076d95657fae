// Child processes, temporary folders and loopback ports for the tests.
#include "tests/support/test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/whole_file.h"

extern char** environ;

namespace testsupport {
namespace {

std::vector<std::string> BuildEnvironment(
    const std::map<std::string, std::optional<std::string>>& changes) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = strchr(*entry, '=');
        if (equals == nullptr) continue;
        merged[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
    }
    for (const auto& [name, value] : changes) {
        if (value.has_value())
            merged[name] = *value;
        else
            merged.erase(name);
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
    return result;
}

// Runs in the child after fork: only async-signal-safe calls until exec.
[[noreturn]] void ExecChild(const std::string& path, std::vector<char*>& argv,
                            std::vector<char*>& envp, const std::string& directory) {
    sigset_t all;
    sigemptyset(&all);
    sigprocmask(SIG_SETMASK, &all, nullptr);
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
}

struct ExecArguments {
    std::vector<std::string> argumentText, environmentText;
    std::vector<char*> argv, envp;
    ExecArguments(const std::string& path, const std::vector<std::string>& arguments,
                  const std::map<std::string, std::optional<std::string>>& environment)
        : environmentText(BuildEnvironment(environment)) {
        argumentText.push_back(path);
        argumentText.insert(argumentText.end(), arguments.begin(), arguments.end());
        for (auto& text : argumentText) argv.push_back(text.data());
        argv.push_back(nullptr);
        for (auto& text : environmentText) envp.push_back(text.data());
        envp.push_back(nullptr);
    }
};

}  // namespace

ChildResult RunProgram(const std::string& path, const ChildOptions& options) {
    ChildResult result;
    ExecArguments exec(path, options.arguments, options.environment);
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
        pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        ExecChild(path, exec.argv, exec.envp, options.workingDirectory);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
    size_t inputWritten = 0;
    if (options.input.empty()) {
        close(inPipe[1]);
        inPipe[1] = -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    bool killed = false;
    int openReaders = 2;
    while (openReaders > 0) {
        pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inPipe[1], POLLOUT, 0}};
        int count = inPipe[1] >= 0 ? 3 : 2;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            if (!killed) kill(pid, SIGKILL);
            killed = true;
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            left = 5000;
        }
        if (poll(fds, static_cast<nfds_t>(count), static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            char buffer[65536];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                (i == 0 ? outPipe[0] : errPipe[0]) = -1;
                --openReaders;
            }
        }
        if (count == 3 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            ssize_t n = write(inPipe[1], options.input.data() + inputWritten,
                              options.input.size() - inputWritten);
            if (n > 0) inputWritten += static_cast<size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR) inputWritten = options.input.size();
            if (inputWritten >= options.input.size()) {
                close(inPipe[1]);
                inPipe[1] = -1;
            }
        }
        if (outPipe[0] < 0 && errPipe[0] < 0) break;
    }
    if (inPipe[1] >= 0) close(inPipe[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

BackgroundProcess::~BackgroundProcess() {
    Stop();
}

bool BackgroundProcess::Start(const std::string& path, const std::vector<std::string>& arguments,
                              const std::map<std::string, std::optional<std::string>>& environment,
                              const std::string& logPath) {
    ExecArguments exec(path, arguments, environment);
    int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(log, 1);
        dup2(log, 2);
        ExecChild(path, exec.argv, exec.envp, "");
    }
    close(log);
    return pid_ > 0;
}

void BackgroundProcess::Signal(int signalNumber) {
    if (pid_ > 0) kill(pid_, signalNumber);
}

int BackgroundProcess::Stop() {
    if (pid_ <= 0) return 0;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

TempDir::TempDir() {
    std::string pattern = std::string(Platform_TemporaryFolder()) + "/zymbtest-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    // Make everything removable first: tests take permissions away on purpose.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        if (it->is_directory(ignored)) chmod(it->path().c_str(), 0700);
    chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ignored);
}

int FreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool WaitForPort(int port, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (up) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string FindProgram(const std::string& name) {
    const char* path = getenv("PATH");
    std::string directories = std::string(path != nullptr ? path : "") + ":/usr/sbin:/sbin";
    std::istringstream in(directories);
    std::string directory;
    while (std::getline(in, directory, ':')) {
        if (directory.empty()) continue;
        std::string candidate = directory + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

bool PeersRequired() {
    const char* ci = getenv("CI");
    return ci != nullptr && strcmp(ci, "true") == 0;
}

bool ReadTerminal(int master, std::string* screen, const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (text.empty() || screen->find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd poller{master, POLLIN, 0};
        if (left <= 0 || poll(&poller, 1, static_cast<int>(left)) != 1) return false;
        char buffer[4096];
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) return text.empty();  // EIO once the child has closed the terminal
        screen->append(buffer, static_cast<size_t>(n));
    }
    return true;
}

}  // namespace testsupport
