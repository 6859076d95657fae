// A small HTTP/1.1 listener on a loopback port for tests: it records each request and
// answers with a chosen status, or never answers at all.
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct HttpRequest {
    std::string method, target;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

class HttpListener {
  public:
    HttpListener();  // binds 127.0.0.1 on a free port and starts serving
    ~HttpListener();
    int Port() const { return port_; }
    std::string Url(const std::string& path = "/") const;
    // The answer to every later request: status line code, extra header lines, body.
    void Answer(int status, const std::string& headers = "", const std::string& body = "ok");
    // Later requests are read but never answered until the listener is destroyed.
    void NeverAnswer() { silent_ = true; }
    std::vector<HttpRequest> Requests();

  private:
    void Serve();
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_{false};
    std::mutex mutex_;
    int status_ = 200;
    std::string headers_, body_ = "ok";
    std::vector<HttpRequest> requests_;
    std::vector<int> heldConnections_;
    std::thread thread_;
};

}  // namespace testsupport
