// Starting tinyproxy in the foreground with a configuration of its own.
#include "tests/support/tinyproxy.h"

namespace testsupport {

TinyProxy::TinyProxy(const std::string& targetPort, const std::string& user,
                     const std::string& password) {
    const std::string program = FindProgram("tinyproxy");
    if (program.empty()) return;
    port_ = FreeLoopbackPort();
    WriteFile(folder_ / "tinyproxy.conf", "Port " + std::to_string(port_) +
                                              "\nListen 127.0.0.1\nTimeout 30\nBasicAuth " + user +
                                              " " + password + "\nAllow 127.0.0.1\nConnectPort " +
                                              targetPort + "\nLogLevel Info\n");
    running_ = process_.Start(program, {"-d", "-c", folder_ / "tinyproxy.conf"}, {},
                              folder_ / "tinyproxy.log") &&
               WaitForPort(port_);
}

}  // namespace testsupport
