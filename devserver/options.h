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
    FaultPlan faults;
};

// 0: run; 1: bad usage (message already written to standard error); 2: help shown.
int ParseOptions(int argc, char** argv, ServerOptions* options);
