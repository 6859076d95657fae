// The configuration file of a command program (libconfig): syslog switch, server and
// facility, texts written to standard output at start and end, message filters.
#include "frame/configuration.h"

#include <cstdio>
#include <cstdlib>

#include "base/value_format.h"

namespace {
constexpr int DEFAULT_FACILITY = 16 << 3;  // local0

// The standard syslog facility names with their codes times 8.
const NameValue FACILITIES[] = {
    {"auth", 4 << 3},    {"authpriv", 10 << 3}, {"cron", 9 << 3},     {"daemon", 3 << 3},
    {"ftp", 11 << 3},    {"kern", 0 << 3},      {"lpr", 6 << 3},      {"mail", 2 << 3},
    {"mark", 24 << 3},   {"news", 7 << 3},      {"security", 4 << 3}, {"syslog", 5 << 3},
    {"user", 1 << 3},    {"uucp", 8 << 3},      {"local0", 16 << 3},  {"local1", 17 << 3},
    {"local2", 18 << 3}, {"local3", 19 << 3},   {"local4", 20 << 3},  {"local5", 21 << 3},
    {"local6", 22 << 3}, {"local7", 23 << 3},   {nullptr, 0},
};

// Puts NAME=value into the environment, the whole entry cut to 255 characters as the
// syslog sink expects of its variables.
void PutEnvironment(const char* name, const char* value) {
    char entry[256];
    snprintf(entry, sizeof entry, "%s=%s", name, value);
    char* equals = entry;
    while (*equals != '=') ++equals;
    *equals = 0;
    setenv(entry, equals + 1, 1);
}

void ApplySyslogSettings(ProgramContext* context) {
    int enable = 0;
    if (!config_lookup_bool(&context->config, "options.syslog.enable", &enable) || !enable) return;
    context->flags |= CTX_SYSLOG;
    const char* host = nullptr;
    if (config_lookup_string(&context->config, "options.syslog.host", &host))
        PutEnvironment("ZYMBSYSLOGHOST", host);
    int port = 0;
    if (config_lookup_int(&context->config, "options.syslog.port", &port)) {
        char text[16];
        snprintf(text, sizeof text, "%u", static_cast<unsigned>(port));
        PutEnvironment("ZYMBSYSLOGPORT", text);
    }
    context->syslogFacility = DEFAULT_FACILITY;
    const char* facility = nullptr;
    int code = 0;
    if (config_lookup_string(&context->config, "options.syslog.facility", &facility) &&
        LookupName(FACILITIES, facility, &code))
        context->syslogFacility = code;
}
}  // namespace

int ReadConfiguration(ProgramContext* context, const char* path) {
    if (path == nullptr || path[0] == 0) return 1;
    Message(context, MSG_INFO, 0, "Reading Config File %s", path);
    // Reading clears the document first; a filter list of an earlier read would dangle.
    context->messageFilters = nullptr;
    context->configLoaded = config_read_file(&context->config, path);
    if (!context->configLoaded) {
        const char* error = config_error_text(&context->config);
        // libconfig leaves the line of an earlier parse error in place when a later file
        // cannot be opened at all; such a failure has no line.
        int line = config_error_type(&context->config) == CONFIG_ERR_FILE_IO
                       ? 0
                       : config_error_line(&context->config);
        Message(context, MSG_ERROR, 0, "Load of config file failed: Line(%u) - Error(%s)",
                static_cast<unsigned>(line), error != nullptr ? error : "");
        return 0;
    }
    if (config_lookup(&context->config, "options") != nullptr) {
        ApplySyslogSettings(context);
        const char* prefix = nullptr;
        if (config_lookup_string(&context->config, "options.stdout.prefix", &prefix))
            WriteConfiguredText(prefix);
    }
    context->messageFilters = config_lookup(&context->config, "options.filters");
    return 1;
}

void WriteConfiguredText(const char* text) {
    for (; *text != 0; ++text) putchar(*text == '~' ? '\n' : *text);
    putchar('\n');
    fflush(stdout);
}
