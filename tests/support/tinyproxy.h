// For tests: a real tinyproxy on a free loopback port that tunnels (CONNECT) to one
// allowed port and asks for Basic credentials, with its configuration and log in a
// temporary folder.
#pragma once
#include <string>

#include "tests/support/test_support.h"

namespace testsupport {

class TinyProxy {
  public:
    // Starts tinyproxy allowing CONNECT to targetPort for user:password; check Running().
    explicit TinyProxy(const std::string& targetPort, const std::string& user = "user",
                       const std::string& password = "password");
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;
    // False when tinyproxy is not installed or did not start.
    bool Running() const { return running_; }
    std::string Port() const { return std::to_string(port_); }
    // What tinyproxy logged so far.
    std::string Log() const { return ReadFile(folder_ / "tinyproxy.log"); }

  private:
    TempDir folder_;
    BackgroundProcess process_;
    int port_ = 0;
    bool running_ = false;
};

}  // namespace testsupport
