// Server strings of the form user:password@host:port, parsed into a ServerAddress.
// Used by the S option of a command program and by the API client's proxy setting.
#pragma once
#include <cstdint>

struct ProgramContext;

struct ServerAddress {
    char text[768];  // copy of the last parsed string, cut into the fields below
    const char* user;
    const char* passwordSpecification;
    const char* host;
    const char* port;
    int32_t passwordGiven;  // 1 once a parsed password part began with "-"
    int (*parse)(ServerAddress* address, const char* text, ProgramContext* context);
};

// The password part starts as "" whatever default is given.
void InitServerAddress(ServerAddress* address, const char* user, const char* passwordSpecification,
                       const char* host, const char* port);
// Returns 1. Logs the interpretation line when a context is given.
int ParseServerString(ServerAddress* address, const char* text, ProgramContext* context);
