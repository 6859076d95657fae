// A UDP listener on a loopback port chosen at construction, for datagram sinks.
#pragma once
#include <string>

namespace testsupport {

class UdpListener {
  public:
    UdpListener();
    ~UdpListener();
    UdpListener(const UdpListener&) = delete;
    UdpListener& operator=(const UdpListener&) = delete;
    int Port() const { return port_; }
    // The next datagram, or "<none>" when none comes within the time.
    std::string Receive(int timeoutMs = 2000);
    // Every datagram that arrives until none has come for half a second, each followed
    // by a line feed.
    std::string ReceiveAll();

  private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace testsupport
