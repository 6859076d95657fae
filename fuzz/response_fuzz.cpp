// Fuzz target for the client's side of the wire: the input is what a server sends back,
// read by the real exchange from a socket. Every response must keep its promises: a
// failure carries no payload, and an accepted one holds Count items of Length bytes
// inside the payload that was read, deciphered and inflated.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "api/codes.h"
#include "api/exchange.h"
#include "api/session.h"
#include "fuzz/fuzz_support.h"

namespace {

void CheckResponse(const ZYMB10APIResponse* response) {
    if (response == nullptr) abort();  // only when 48 bytes cannot be allocated
    if (response->TotalLength == 0) {
        if (response->PayloadLength != 0 || response->Count != 0) abort();
        return;
    }
    if (response->Expansion != 0) abort();  // inflated by now
    if (uint64_t{response->Count} * response->Length > response->PayloadLength) abort();
    // A copy of the whole payload, so that the sanitizer sees one shorter than claimed.
    const std::vector<uint8_t> copy(response->Payload, response->Payload + response->PayloadLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        signal(SIGPIPE, SIG_IGN);
        unsetenv("ZYMBAPILOGDIR");
        return true;
    }();
    (void)ready;
    int ends[2];
    FilledSocketPair({reinterpret_cast<const char*>(data), size}, ends);
    ZYMB10APISession session;
    ZYMB10API_Init(&session);
    session.socket = ends[0];
    // Several exchanges on one stream: the cipher switch of one response carries over to
    // the next, as on a real connection.
    for (int exchange = 0; exchange < 4; ++exchange) {
        ZYMB10APIRequest request = {};
        request.TotalLength = 32 + 4;
        request.Function = FUNCTION_LIST_FILE;
        request.Length = 4;
        request.Payload = "ACME";
        ZYMB10APIResponse* response = ZYMB10API_Send(&session, &request);
        CheckResponse(response);
        const bool failed = response->TotalLength == 0;
        ZYMB10API_FreeResponse(response);
        if (failed) break;
    }
    ZYMB10API_Term(&session);
    close(ends[1]);
    return 0;
}
