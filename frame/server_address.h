// Server strings of the form user:password@host:port, parsed into a ServerAddress.
// Used by the S option of a command program and by the programs' proxy setting.
#pragma once
#include <cstdint>
#include <string>

struct ProgramContext;

// The fields own their text: a later parse replaces the fields its text gives and keeps
// the others as they were.
struct ServerAddress {
    std::string user;
    std::string passwordSource;  // "-literal", "+" (ask), a password file, or ""
    std::string host;
    std::string port;
    int32_t passwordGiven;  // 1 once a parsed password part began with "-"
    int (*parse)(ServerAddress* address, const char* text, ProgramContext* context);
};

// The password part starts as "" whatever default is given.
void InitServerAddress(ServerAddress* address, const char* user, const char* passwordSource,
                       const char* host, const char* port);
// Reads the whole text, however long. Returns 1. Logs the interpretation line when a
// context is given.
int ParseServerString(ServerAddress* address, const char* text, ProgramContext* context);

// True for a port number from 1 to 65535 in decimal digits (a service name or "99999" is
// refused before it reaches the resolver, which would only say "Servname not supported").
bool IsPortNumber(const char* text);
