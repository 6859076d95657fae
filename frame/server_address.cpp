// Server strings: user:password@host:port cut into the fields of a ServerAddress.
#include "frame/server_address.h"

#include <cstdlib>
#include <cstring>

#include "frame/program_context.h"

namespace {
enum Field { USER, PASSWORD, HOST, PORT, FIELD_COUNT };

// Cuts text (changed in place) into fields; a field that the text does not give, or
// gives empty, stays none.
void CutFields(char* text, char* fields[FIELD_COUNT]) {
    for (int i = 0; i < FIELD_COUNT; ++i) fields[i] = nullptr;
    const bool hasAt = strchr(text, '@') != nullptr;
    char* first = text;      // user, or the host when there is no "@"
    char* second = nullptr;  // password part, or the port when there is no "@"
    bool afterAt = false;
    for (char* p = text; *p != 0; ++p) {
        if (*p == '@') {
            *p = 0;
            fields[HOST] = p + 1;
            afterAt = true;
        } else if (*p == ':') {
            if (afterAt) {
                *p = 0;
                fields[PORT] = p + 1;
            } else if (second == nullptr) {
                *p = 0;
                second = p + 1;
            }
        }
    }
    if (hasAt) {
        fields[USER] = first;
        fields[PASSWORD] = second;
    } else {
        fields[HOST] = first;
        fields[PORT] = second;
    }
    for (int i = 0; i < FIELD_COUNT; ++i)
        if (fields[i] != nullptr && *fields[i] == 0) fields[i] = nullptr;
}
}  // namespace

void InitServerAddress(ServerAddress* address, const char* user, const char*, const char* host,
                       const char* port) {
    address->user = user != nullptr ? user : "";
    address->passwordSource = "";
    address->host = host != nullptr ? host : "";
    address->port = port != nullptr ? port : "";
    address->passwordGiven = 0;
    address->parse = ParseServerString;
}

int ParseServerString(ServerAddress* address, const char* text, ProgramContext* context) {
    // The whole text: a cut could drop the "@" and with it the password, without a word.
    std::string work(text != nullptr ? text : "");
    char* given[FIELD_COUNT];
    CutFields(work.data(), given);
    std::string* fields[FIELD_COUNT] = {&address->user, &address->passwordSource, &address->host,
                                        &address->port};
    for (int i = 0; i < FIELD_COUNT; ++i)
        if (given[i] != nullptr) fields[i]->assign(given[i]);

    if (address->passwordSource[0] == '-') address->passwordGiven = 1;

    if (context != nullptr)
        Message(context, MSG_INFO, 1,
                "Server Interpreted as: Server(%s) Port(%s) User(%s) Password(%s)",
                address->host.c_str(), address->port.c_str(), address->user.c_str(),
                address->passwordGiven == 1 ? "******" : address->passwordSource.c_str());
    return 1;
}

bool IsPortNumber(const char* text) {
    const size_t length = strlen(text);
    if (length == 0 || length > 5 || strspn(text, "0123456789") != length) return false;
    const long number = strtol(text, nullptr, 10);
    return number >= 1 && number <= 65535;
}
