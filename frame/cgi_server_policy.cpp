// The server string of a CGI request: literal or folder passwords only, listed servers only.
#include "frame/cgi_server_policy.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "frame/program_context.h"
#include "frame/server_address.h"

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool SameHost(std::string_view listed, const char* host) {
    return listed.size() == strlen(host) && strncasecmp(listed.data(), host, listed.size()) == 0;
}

// True when "host:port" is one of the comma-separated entries of the list.
bool Listed(const char* list, const char* host, const char* port) {
    std::string_view rest = list;
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        std::string_view entry = Trimmed(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        size_t colon = entry.rfind(':');
        if (colon == std::string_view::npos) continue;
        if (SameHost(entry.substr(0, colon), host) && entry.substr(colon + 1) == port) return true;
    }
    return false;
}

}  // namespace

int CheckCgiServer(ProgramContext* context, const ServerAddress* server, const char* defaultHost,
                   const char* defaultPort) {
    if ((context->flags & CTX_CGI) == 0) return 1;
    const char* source = server->passwordSource.c_str();
    const char* user = server->user.c_str();
    const char* host = server->host.c_str();
    const char* port = server->port.c_str();

    if (source[0] != 0 && source[0] != '-') {
        Message(context, MSG_ERROR, 0,
                "Server string refused under a web server: its password part may only "
                "be a literal password or empty, not a file or a prompt");
        return 0;
    }
    // An empty password part reads the file named by the user in the password folder.
    if (source[0] == 0 && (user[0] == 0 || strchr(user, '/') != nullptr || strcmp(user, ".") == 0 ||
                           strcmp(user, "..") == 0)) {
        Message(context, MSG_ERROR, 0,
                "Server string refused under a web server: user %s names no password "
                "file in the password folder",
                user);
        return 0;
    }
    if (strcmp(host, defaultHost) == 0 && strcmp(port, defaultPort) == 0) return 1;
    const char* allowed = getenv("ZYMBCGISERVERS");
    if (allowed != nullptr && Listed(allowed, host, port)) return 1;
    Message(context, MSG_ERROR, 0,
            "Server %s:%s refused under a web server: only the default server and "
            "those listed in ZYMBCGISERVERS may be used",
            host, port);
    return 0;
}
