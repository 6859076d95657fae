// Fuzz target for the development server's request reader and the handlers behind it:
// the input is what a client sends on one connection (after a first byte that says
// whether the connection has logged on), read by the real reader from a socket and
// answered as the server would answer it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "api/cipher.h"
#include "devserver/handlers.h"
#include "devserver/server_wire.h"
#include "fuzz/fuzz_support.h"

namespace {

struct ServerState {
    UserStore users;
    FileStore files;
    ServerShared shared;
    XNPCipherBlock cipher;
    explicit ServerState(const std::string& data)
        : files(data), shared{&users, &files, "Fuzz-Server"} {
        std::string error;
        if (!users.Load(data + "/users.txt", &error) || !XNPCipher_SetUp(&cipher)) abort();
    }
};

ServerState& State() {
    static ServerState* state = [] {
        signal(SIGPIPE, SIG_IGN);
        const std::string data = ScratchFolder() + "/data";
        mkdir(data.c_str(), 0700);
        mkdir((data + "/ACME").c_str(), 0700);
        WriteScratchFile("data/users.txt", "batch:secret:inherit\nother:pw\n");
        WriteScratchFile("data/ACME/report.csv", "id,value\n1,one\n");
        WriteScratchFile("data/ACME/report.csv;2", "id,value\n1,one\n2,two\n");
        WriteScratchFile("data/ACME/.index", "report.csv;2||2|Second report\n");
        return new ServerState(data);
    }();
    return *state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ServerState& state = State();
    FuzzInput input(data, size);
    const uint8_t setup = input.Byte();
    int ends[2];
    FilledSocketPair(input.Rest(), ends);
    // Replies go to an end nobody reads: a send that does not fit must fail, not wait.
    // Reading is unaffected, as every byte is there before the first read.
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    ConnectionState connection;
    connection.id = 1;
    connection.loggedOn = (setup & 1) != 0;
    connection.user = connection.loggedOn ? "batch" : "";
    const ReplyStyle style = {(setup & 2) != 0, (setup & 4) != 0, 0};
    for (int requests = 0; requests < 8; ++requests) {
        IncomingRequest request;
        std::string why;
        const ReadOutcome outcome = ReadRequest(ends[0], state.cipher, &request, &why);
        if (outcome == ReadOutcome::Closed || outcome == ReadOutcome::Broken) break;
        if (outcome == ReadOutcome::Request) {
            if (request.payload.size() > REQUEST_PAYLOAD_LIMIT) abort();
            const Reply reply = Dispatch(state.shared, connection, request, {});
            size_t sent = 0;
            // The client end is never read: a large reply fails to send, as to a client
            // that has gone, which ends the connection.
            if (!SendReply(ends[0], reply, style, state.cipher, {}, &sent)) break;
        }
    }
    close(ends[0]);
    close(ends[1]);
    return 0;
}
