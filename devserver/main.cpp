// zymb-devserver: a development Corvantix server that serves the files of a data folder
// to the command programs, with users from a file and faults on request.
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "devserver/server.h"

int main(int argc, char** argv) {
    ServerOptions options;
    const int parsed = ParseOptions(argc, argv, &options);
    if (parsed != 0) return parsed == 2 ? 0 : 1;
    // Each reply allocates and frees a few section-sized buffers on its connection's
    // thread; trimming the thread's heap after every one cost more than serving the file.
    mallopt(M_TRIM_THRESHOLD, 64 << 20);

    UserStore users;
    std::string error;
    if (!users.Load(options.usersFile, &error)) {
        fprintf(stderr, "zymb-devserver: %s\n", error.c_str());
        return 1;
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

    Server server(options, &users, &files);
    if (!server.Listen(&error)) {
        fprintf(stderr, "zymb-devserver: %s\n", error.c_str());
        return 1;
    }
    ServerLog(
        "zymb-devserver listening on %s:%s, data %s, users %s, cipher %s, compression %s, "
        "single sign-on with %s",
        options.address.c_str(), options.port.c_str(), options.data.c_str(),
        options.usersFile.c_str(), options.cipher ? "on" : "off", options.compress ? "on" : "off",
        singleSignOn.c_str());
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
