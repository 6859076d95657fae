// The development server's command line.
#pragma once
#include <string>

#include "devserver/faults.h"

struct ServerOptions {
    std::string address = "127.0.0.1";
    std::string port = "5000";
    std::string data;       // the data folder (required)
    std::string usersFile;  // default: DATA/users.txt
    std::string name = "Corvantix-Dev";
    std::string keytab;  // keys of the service principals for single sign-on; "" = default
    bool cipher = true;
    bool compress = true;
    bool quiet = false;  // no line per request
    // Connections served at once; one more is closed as soon as it is accepted, so that
    // clients that connect and say nothing cannot use up the descriptors.
    unsigned maxConnections = 256;
    // Seconds a connection may send nothing (or take nothing of a reply) before it is
    // closed; 0 waits for ever.
    unsigned idleTimeout = 120;
    FaultPlan faults;
};

// 0: run; 1: bad usage (one line already written to standard error: an unknown option, a
// value out of range, a data folder or users file that cannot be read); 2: help or
// version shown.
int ParseOptions(int argc, char** argv, ServerOptions* options);
