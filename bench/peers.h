// The servers the benchmark downloads from: the development server over a data folder,
// and nginx over a web root, each on a free loopback port and stopped by its destructor.
#pragma once
#include <string>

#include "tests/support/test_support.h"

class BenchServer {
  public:
    // Starts the development server; cipher off sends plain payloads. False with a reason.
    bool StartDevServer(const std::string& program, const std::string& dataFolder,
                        const std::string& usersFile, bool cipher, const std::string& logPath,
                        std::string* error);
    // Starts nginx with a configuration of its own in `folder`, serving `webRoot`.
    bool StartNginx(const std::string& program, const std::string& folder,
                    const std::string& webRoot, std::string* error);
    int Port() const { return port_; }

  private:
    bool Await(const std::string& what, const std::string& logPath, std::string* error);
    testsupport::BackgroundProcess process_;
    int port_ = 0;
};
