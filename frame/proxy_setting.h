// The proxy a command program reaches its server through: ZYMBSERVERPROXY
// (user:password@host:port, each part optional) and the password of its user.
#pragma once
#include "frame/password.h"
#include "frame/server_address.h"

struct ProgramContext;

struct ProxySetting {
    ServerAddress address;  // host, port, user and password part of the variable
    char password[PASSWORD_BUFFER_SIZE];
    int passwordFound;  // 1 when the variable names no user, or its password was found
};

// Logs that the variable is looked at and reads it. Returns 1 when a proxy is set (the
// fields filled and the user's password looked up, the failure logged by the look-up),
// 0 when none is, -1 (logged) when its port is not a number from 1 to 65535.
int ReadProxySetting(ProgramContext* context, ProxySetting* setting);
