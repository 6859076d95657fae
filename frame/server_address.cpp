// Server strings (placeholder until the parser lands).
#include "frame/server_address.h"

#include <cstring>

void InitServerAddress(ServerAddress* address, const char* user, const char*, const char* host,
                       const char* port) {
    memset(address->text, 0, sizeof address->text);
    address->user = user;
    address->passwordSpecification = "";
    address->host = host;
    address->port = port;
    address->passwordGiven = 0;
    address->parse = ParseServerString;
}

int ParseServerString(ServerAddress*, const char*, ProgramContext*) {
    return 1;
}
