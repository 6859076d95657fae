// devserver_load_bench: the development server under load: many clients at once, many
// idle connections, and what each connection costs in memory.
//
//   devserver_load_bench [--clients N] [--idle N]
//
// 1. N clients (default 200), each a process of its own started at the same moment,
//    connect, log on, list the files and download a file of two sections; the time of
//    each and of the whole, and how many were served.
// 2. N idle connections (default 300) against the default limit of 256: how many the
//    server keeps, how fast the rest are closed, whether a real client is still answered
//    (refused at once, not left hanging), and how soon it is served once the idle ones
//    time out.
// 3. The same idle connections against a limit above them: the server's resident memory
//    and threads before and with them, per connection.
// Exit status: 0 when every client was served and the limits held, 2 when not, 1 when the
// run failed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "api/byte_order.h"
#include "api/codes.h"
#include "api/connect.h"
#include "api/exchange.h"
#include "api/session.h"
#include "devserver/test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long StatusField(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const size_t length = strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::stol(line.substr(length + 1));
    }
    return -1;
}

int Connect(const std::string& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Milliseconds until the server closes fd, or -1 when it stays open for limitMs.
double ClosedAfter(int fd, int limitMs) {
    const auto start = Clock::now();
    pollfd ready = {fd, POLLIN, 0};
    for (double passed = 0; passed < limitMs; passed = MillisecondsSince(start)) {
        if (poll(&ready, 1, static_cast<int>(limitMs - passed) + 1) <= 0) continue;
        char byte;
        const ssize_t got = recv(fd, &byte, 1, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN)) return MillisecondsSince(start);
    }
    return -1;
}

// One client: logon, list, both sections of big.bin. True when all of it succeeded.
bool ServeOneClient(const std::string& port) {
    ZYMB10APISession session;
    ZYMB10API_Init(&session);
    bool served =
        ZYMB10API_Connect(&session, "127.0.0.1", port.c_str()) == 0 && LogOn(&session) == 0;
    uint8_t section[20] = {};
    if (served) {
        ZYMB10APIResponse* list = SendRequest(&session, FUNCTION_LIST_FILE, "ACME", 4);
        served = list->RC == RC_OK && list->Count > 0;
        for (uint32_t i = 0; served && i < list->Count; ++i) {
            const uint8_t* item = list->Payload + i * list->Length;
            if (strcmp(reinterpret_cast<const char*>(item + 176), "big.bin") == 0)
                memcpy(section, item, 16);
        }
        ZYMB10API_FreeResponse(list);
    }
    for (uint32_t number = 0; served && number < 3; ++number) {
        StoreLittleEndian32(section + 16, number);
        ZYMB10APIResponse* reply = SendRequest(&session, FUNCTION_DOWNLOAD_FILE, section, 20);
        served = reply->RC == RC_OK && reply->PayloadLength >= 16;
        ZYMB10API_FreeResponse(reply);
    }
    ZYMB10API_Term(&session);
    return served;
}

struct ClientFigures {
    int served = 0;
    double wallMs = 0;
    std::vector<double> eachMs;
};

// count processes, released together, each serving one client; each reports its time.
ClientFigures RunClients(const std::string& port, int count) {
    int start[2], results[2];
    if (pipe(start) != 0 || pipe(results) != 0) exit(1);
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            close(start[1]);
            char go;
            if (read(start[0], &go, 1) < 0) _exit(1);
            const auto begun = Clock::now();
            const bool served = ServeOneClient(port);
            const double ms = served ? MillisecondsSince(begun) : -1;
            if (write(results[1], &ms, sizeof ms) != sizeof ms) _exit(1);
            _exit(served ? 0 : 1);
        }
        children.push_back(child);
    }
    close(start[0]);
    close(results[1]);
    const auto begun = Clock::now();
    close(start[1]);  // every child starts now
    ClientFigures figures;
    double ms;
    while (read(results[0], &ms, sizeof ms) == sizeof ms) {
        if (ms >= 0) {
            figures.served++;
            figures.eachMs.push_back(ms);
        }
    }
    figures.wallMs = MillisecondsSince(begun);
    close(results[0]);
    for (pid_t child : children) waitpid(child, nullptr, 0);
    std::sort(figures.eachMs.begin(), figures.eachMs.end());
    return figures;
}

double Percentile(const std::vector<double>& sorted, double share) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(share * sorted.size()))];
}

}  // namespace

int main(int argc, char** argv) {
    int clients = 200;
    int idle = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--clients") == 0) clients = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--idle") == 0) idle = atoi(argv[i + 1]);
    }
    bool met = true;
    double load[3] = {};
    getloadavg(load, 3);
    printf("devserver load benchmark: %d clients, %d idle connections, load %.2f\n", clients, idle,
           load[0]);

    // 1. Clients at once.
    {
        DevServer server({"--quiet"});
        if (!server.Running()) {
            fprintf(stderr, "the development server did not start:\n%s", server.Log().c_str());
            return 1;
        }
        const ClientFigures figures = RunClients(server.Port(), clients);
        printf("\n%d clients at once (logon, list, 2 sections of 65000 bytes each):\n", clients);
        printf(
            "  served %d of %d in %.0f ms; per client median %.0f ms, 95th %.0f ms, "
            "slowest %.0f ms\n",
            figures.served, clients, figures.wallMs, Percentile(figures.eachMs, 0.5),
            Percentile(figures.eachMs, 0.95), Percentile(figures.eachMs, 1.0));
        printf("  server peak memory %ld KiB\n", StatusField(server.Pid(), "VmHWM"));
        if (figures.served != clients) met = false;
    }

    // 2. Idle connections against the default limit, with a short idle time-out.
    {
        // Long enough that none of them times out while they are still being counted.
        const int timeout = 10;
        DevServer server({"--quiet", "--idle-timeout", std::to_string(timeout)});
        if (!server.Running()) return 1;
        std::vector<int> held;
        const auto connecting = Clock::now();
        for (int i = 0; i < idle; ++i) held.push_back(Connect(server.Port()));
        const double connectMs = MillisecondsSince(connecting);
        usleep(300000);
        // Connections over the limit are closed as soon as they are accepted.
        int closed = 0;
        for (int fd : held) {
            const double after = ClosedAfter(fd, 5);
            if (after >= 0) ++closed;
        }
        const int kept = idle - closed;
        const int refusedProbe = Connect(server.Port());
        const double refusal = ClosedAfter(refusedProbe, 2000);
        close(refusedProbe);
        const auto waited = Clock::now();  // counted from the refusal, not the connects
        bool served = false;
        while (!served && MillisecondsSince(waited) < (timeout + 5) * 1000.0) {
            served = ServeOneClient(server.Port());
            if (!served) usleep(100000);
        }
        const double recovery = MillisecondsSince(waited);
        printf("\n%d idle connections, default limit (256), idle time-out %d s:\n", idle, timeout);
        printf("  %d connects took %.0f ms\n", idle, connectMs);
        printf("  kept %d, closed at once %d; a real client meanwhile: %s\n", kept, closed,
               refusal >= 0 ? "closed, not left waiting" : "LEFT WAITING");
        if (refusal >= 0) printf("  (its connection closed after %.1f ms)\n", refusal);
        printf("  the real client served %.1f s after that, once the idle connections timed out\n",
               recovery / 1000.0);
        for (int fd : held) close(fd);
        if (kept != std::min(idle, 256) || refusal < 0 || !served) met = false;
    }

    // 3. Memory per connection, all of them kept.
    {
        DevServer server({"--quiet", "--max-connections", std::to_string(idle + 100)});
        if (!server.Running()) return 1;
        usleep(200000);
        const long before = StatusField(server.Pid(), "VmRSS");
        const long threadsBefore = StatusField(server.Pid(), "Threads");
        std::vector<int> held;
        for (int i = 0; i < idle; ++i) held.push_back(Connect(server.Port()));
        for (int wait = 0;
             wait < 100 && StatusField(server.Pid(), "Threads") < threadsBefore + idle; ++wait)
            usleep(50000);
        const long with = StatusField(server.Pid(), "VmRSS");
        const long threads = StatusField(server.Pid(), "Threads");
        printf("\n%d idle connections kept (limit %d):\n", idle, idle + 100);
        printf(
            "  server memory %ld KiB before, %ld KiB with them: %.1f KiB per connection; "
            "threads %ld -> %ld\n",
            before, with, static_cast<double>(with - before) / idle, threadsBefore, threads);
        const bool served = ServeOneClient(server.Port());
        printf("  a real client beside them: %s\n", served ? "served" : "NOT SERVED");
        for (int fd : held) close(fd);
        if (!served) met = false;
    }
    getloadavg(load, 3);
    printf("\nload %.2f; %s\n", load[0], met ? "all clients served, limits held" : "NOT MET");
    return met ? 0 : 2;
}
