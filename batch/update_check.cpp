// The update check over libcurl. Runs on a worker thread of the application; its outcome is
// only kept, never shown.
#include "batch/update_check.h"

#include <curl/curl.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/system_info.h"

namespace {
// The compiler's date form, "Mar 17 2025" (a day below 10 has a blank before it). The
// months are English whatever the locale, so they are matched here, not with strptime.
bool ParseBuildDate(const char* text, unsigned* year, unsigned* month, unsigned* day) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text == nullptr || strlen(text) < 3) return false;
    *month = 0;
    for (unsigned i = 0; i < 12; ++i)
        if (strncmp(text, months[i], 3) == 0) *month = i + 1;
    if (*month == 0) return false;
    return sscanf(text + 3, "%u %u", day, year) == 2 && *day >= 1 && *day <= 31;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}
}  // namespace

int UpdateCheck_AgentText(char* out, size_t size, const char* name, const char* buildDate,
                          const char* systemName, const char* systemVersion,
                          const char* productType) {
    unsigned year = 0, month = 0, day = 0;
    if (!ParseBuildDate(buildDate, &year, &month, &day)) year = month = day = 0;
    int length = snprintf(out, size, "%s/%4.4u-%2.2u-%2.2u (%s %s %s)", name, year, month, day,
                          systemName, systemVersion, productType);
    if (length < 0) return 0;
    return size == 0 ? 0 : static_cast<int>(static_cast<size_t>(length) < size ? length : size - 1);
}

int UpdateCheck_MachineAgentText(char* out, size_t size, const char* name, const char* buildDate) {
    PlatformDescription description;
    DescribePlatform(&description);
    const char* display = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    bool desktop = (display != nullptr && *display != 0) || (wayland != nullptr && *wayland != 0);
    return UpdateCheck_AgentText(out, size, name, buildDate, description.systemName,
                                 description.versionText, desktop ? "Desktop" : "Server");
}

const char* UpdateCheck_Host(const char* profileHost) {
    const char* host = getenv("ZYMBUPDATEHOST");
    if (host != nullptr && *host != 0) return host;
    return profileHost != nullptr ? profileHost : "";
}

int UpdateCheck_Run(const char* host, const char* agent, char* location, size_t size) {
    if (size > 0) location[0] = 0;
    if (host == nullptr || *host == 0) return 0;
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return 0;
    std::string url = std::string("http://") + host + "/version.cgi";
    std::string headers;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, agent);
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, 1500L);
    // The whole exchange: 1500 ms to connect, then 1500 ms to send and receive.
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 3000L);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &headers);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, DiscardBody);
    if (curl_easy_perform(curl.get()) != CURLE_OK) return 0;
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status != 302) return 0;
    // The raw headers as received; the name is matched without regard to case, as HTTP
    // header names are.
    const char* key = "Location: ";
    size_t at = 0;
    for (;;) {
        size_t lineStart = at;
        if (headers.size() - lineStart >= strlen(key) &&
            strncasecmp(headers.c_str() + lineStart, key, strlen(key)) == 0) {
            size_t valueStart = lineStart + strlen(key);
            size_t valueEnd = headers.find_first_of("\r\n", valueStart);
            if (valueEnd == std::string::npos) valueEnd = headers.size();
            snprintf(location, size, "%.*s", static_cast<int>(valueEnd - valueStart),
                     headers.c_str() + valueStart);
            return 1;
        }
        at = headers.find('\n', lineStart);
        if (at == std::string::npos) return 0;
        ++at;
    }
}
