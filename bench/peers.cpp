// Starting the development server and nginx for the benchmark.
#include "bench/peers.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>

namespace {

// Ports picked free can be taken by someone else before the server binds them.
constexpr int START_ATTEMPTS = 5;

}  // namespace

bool BenchServer::Await(const std::string& what, const std::string& logPath, std::string* error) {
    if (testsupport::WaitForPort(port_, 10000)) return true;
    const int status = process_.Stop();
    *error = what + " did not come up on port " + std::to_string(port_) +
             (WIFEXITED(status) ? " (exit " + std::to_string(WEXITSTATUS(status)) + ")" : "") +
             "; see " + logPath;
    return false;
}

bool BenchServer::StartDevServer(const std::string& program, const std::string& dataFolder,
                                 const std::string& usersFile, bool cipher,
                                 const std::string& logPath, std::string* error) {
    for (int attempt = 0; attempt < START_ATTEMPTS; ++attempt) {
        port_ = testsupport::FreeLoopbackPort();
        std::vector<std::string> arguments = {
            "--data", dataFolder, "--users", usersFile, "--port", std::to_string(port_), "--quiet"};
        if (!cipher) arguments.push_back("--no-cipher");
        if (!process_.Start(program, arguments, {}, logPath)) {
            *error = "cannot start " + program;
            return false;
        }
        if (Await("the development server", logPath, error)) return true;
    }
    return false;
}

bool BenchServer::StartNginx(const std::string& program, const std::string& folder,
                             const std::string& webRoot, std::string* error) {
    mkdir(folder.c_str(), 0700);
    const std::string logPath = folder + "/error.log";
    for (int attempt = 0; attempt < START_ATTEMPTS; ++attempt) {
        port_ = testsupport::FreeLoopbackPort();
        const std::string config = folder + "/nginx.conf";
        std::ofstream out(config, std::ios::trunc);
        // One process in the foreground, as the user that runs the benchmark, so it reads
        // the private work folder and stops with its parent's signal.
        out << "daemon off;\n"
            << "master_process off;\n"
            << "worker_processes 1;\n"
            << "pid " << folder << "/nginx.pid;\n"
            << "error_log " << logPath << " warn;\n"
            << "events { worker_connections 64; }\n"
            << "http {\n"
            << "    access_log off;\n"
            << "    sendfile on;\n"
            << "    tcp_nopush on;\n"
            << "    default_type application/octet-stream;\n"
            << "    client_body_temp_path " << folder << "/client;\n"
            << "    proxy_temp_path " << folder << "/proxy;\n"
            << "    fastcgi_temp_path " << folder << "/fastcgi;\n"
            << "    uwsgi_temp_path " << folder << "/uwsgi;\n"
            << "    scgi_temp_path " << folder << "/scgi;\n"
            << "    server {\n"
            << "        listen 127.0.0.1:" << port_ << ";\n"
            << "        root " << webRoot << ";\n"
            << "    }\n"
            << "}\n";
        out.close();
        if (!process_.Start(program, {"-p", folder, "-c", config, "-e", logPath}, {}, logPath)) {
            *error = "cannot start " + program;
            return false;
        }
        if (Await("nginx", logPath, error)) return true;
    }
    return false;
}
