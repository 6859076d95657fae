// What a web client may choose in the server string of a CGI request. The form comes
// from whoever reaches the web server, so it may not make the program read a file of its
// choosing as a password, nor send a stored password to a server the operator has not
// named.
#pragma once

struct ProgramContext;
struct ServerAddress;

// Outside CGI: 1. Under CGI: 1 when the password part is a literal ("-" form) or empty
// (the password folder, by a user name that names no other path), and the server is the
// default one or is listed as "host:port" in ZYMBCGISERVERS (comma-separated, set in the
// web server's environment by the operator). Otherwise logs the reason at error level
// and returns 0.
int CheckCgiServer(ProgramContext* context, const ServerAddress* server, const char* defaultHost,
                   const char* defaultPort);
