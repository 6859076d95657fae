// The development server's listener: accepts clients and serves each on a thread of its
// own, one request and one reply at a time, until Stop.
#pragma once
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "api/cipher.h"
#include "devserver/handlers.h"
#include "devserver/options.h"

class Server {
  public:
    Server(const ServerOptions& options, UserStore* users, FileStore* files);
    // Binds and listens; false with a reason when that fails.
    bool Listen(std::string* error);
    // Serves until Stop, then waits for every connection to end.
    void Run();
    // Callable from another thread: stops accepting and ends every connection.
    void Stop();

  private:
    void Serve(int socket, uint32_t peerAddress, std::string peerText, int id);

    const ServerOptions& options_;
    ServerShared shared_;
    XNPCipherBlock cipher_;
    int listener_ = -1;
    std::mutex mutex_;
    std::condition_variable idle_;
    std::set<int> clients_;
    bool stopping_ = false;
    size_t refused_ = 0;  // connections closed at once for the limit, for the log
};

// One log line on standard error, with the time in front; serialised across threads.
// Control characters in it (from user names, stored names, anything a client sent) are
// escaped, so that no client can end a line or forge one.
void ServerLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The text as it is logged: every byte below 0x20 and 0x7F as \xHH, a backslash doubled,
// every other byte as it is.
std::string EscapeForLog(std::string_view text);
