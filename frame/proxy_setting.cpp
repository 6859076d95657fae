// Reading the proxy setting of a command program.
#include "frame/proxy_setting.h"

#include <cstdlib>

#include "frame/program_context.h"

int ReadProxySetting(ProgramContext* context, ProxySetting* setting) {
    context->Message(context, MSG_INFO, 0, "Checking for environment variable ZYMBSERVERPROXY");
    const char* text = getenv("ZYMBSERVERPROXY");
    if (text == nullptr) return 0;
    InitServerAddress(&setting->address, "", "", "", "");
    ParseServerString(&setting->address, text, nullptr);
    setting->password[0] = '\0';
    setting->passwordFound = 1;
    const ServerAddress& address = setting->address;
    if (!address.user.empty() &&
        (context->GetPassword == nullptr ||
         context->GetPassword(context, address.user.c_str(), address.passwordSource.c_str(),
                              "corvantix", setting->password) == nullptr))
        setting->passwordFound = 0;
    return 1;
}
