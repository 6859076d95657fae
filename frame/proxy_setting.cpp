// Reading the proxy setting of a command program.
#include "frame/proxy_setting.h"

#include <cstdlib>

#include "frame/program_context.h"

int ReadProxySetting(ProgramContext* context, ProxySetting* setting) {
    Message(context, MSG_INFO, 0, "Checking for environment variable ZYMBSERVERPROXY");
    const char* text = getenv("ZYMBSERVERPROXY");
    if (text == nullptr) return 0;
    InitServerAddress(&setting->address, "", "", "", "");
    ParseServerString(&setting->address, text, nullptr);
    setting->password[0] = '\0';
    setting->passwordFound = 1;
    const ServerAddress& address = setting->address;
    if (!address.port.empty() && !IsPortNumber(address.port.c_str())) {
        Message(context, MSG_ERROR, 0,
                "Proxy port %s in ZYMBSERVERPROXY is not a number from 1 to 65535",
                address.port.c_str());
        return -1;
    }
    if (!address.user.empty() &&
        GetPassword(context, address.user.c_str(), address.passwordSource.c_str(), "corvantix",
                    setting->password) == nullptr)
        setting->passwordFound = 0;
    return 1;
}
