// zymb-devserver: a development Corvantix server that serves the files of a data folder
// to the command programs, with users from a file and faults on request.
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "devserver/server.h"

namespace {

// Descriptors kept free beside the connections: the listener, standard streams, the
// files a request reads and the folders a list walks.
constexpr rlim_t RESERVED_DESCRIPTORS = 32;

// Raises the descriptor limit as far as the connection limit needs, and where the hard
// limit does not allow that, lowers the connection limit instead: a server out of
// descriptors can neither serve nor refuse.
void LimitConnectionsToDescriptors(ServerOptions* options) {
    rlimit files;
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return;
    const rlim_t wanted = rlim_t{options->maxConnections} + RESERVED_DESCRIPTORS;
    if (files.rlim_cur < wanted && files.rlim_cur != files.rlim_max) {
        files.rlim_cur =
            files.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, files.rlim_max);
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
    }
    if (files.rlim_cur >= wanted) return;
    const unsigned allowed = files.rlim_cur > RESERVED_DESCRIPTORS + 1
                                 ? static_cast<unsigned>(files.rlim_cur - RESERVED_DESCRIPTORS)
                                 : 1;
    fprintf(stderr, "zymb-devserver: the descriptor limit (%llu) allows %u connections, not %u\n",
            static_cast<unsigned long long>(files.rlim_cur), allowed, options->maxConnections);
    options->maxConnections = allowed;
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    const int parsed = ParseOptions(argc, argv, &options);
    // A call that cannot start the server ends with status 2, as usage errors do.
    if (parsed != 0) return parsed == 2 ? 0 : 2;
    // Each reply allocates and frees a few section-sized buffers on its connection's
    // thread; trimming the thread's heap after every one cost more than serving the file.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);

    UserStore users;
    std::string error;
    if (!users.Load(options.usersFile, &error)) {
        fprintf(stderr, "zymb-devserver: %s\n", error.c_str());
        return 2;
    }
    FileStore files(options.data);
    std::string singleSignOn;
    if (!SetUpSingleSignOn(options.keytab, &singleSignOn)) {
        fprintf(stderr, "zymb-devserver: %s\n", singleSignOn.c_str());
        return 1;
    }

    // Signals are taken by one thread; every other thread keeps them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    LimitConnectionsToDescriptors(&options);
    Server server(options, &users, &files);
    if (!server.Listen(&error)) {
        fprintf(stderr, "zymb-devserver: %s\n", error.c_str());
        return 1;
    }
    ServerLog(
        "zymb-devserver listening on %s:%s, data %s, users %s, cipher %s, compression %s, "
        "single sign-on with %s, at most %u connections, idle time-out %u s",
        options.address.c_str(), options.port.c_str(), options.data.c_str(),
        options.usersFile.c_str(), options.cipher ? "on" : "off", options.compress ? "on" : "off",
        singleSignOn.c_str(), options.maxConnections, options.idleTimeout);
    std::thread stopper([&server, &stopSignals] {
        int received = 0;
        sigwait(&stopSignals, &received);
        ServerLog("stopping on signal %d", received);
        server.Stop();
    });
    server.Run();
    // Run also ends when accepting fails for good; wake the signal thread then too.
    kill(getpid(), SIGTERM);
    stopper.join();
    ServerLog("stopped");
    return 0;
}
