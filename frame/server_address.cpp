// Server strings: user:password@host:port cut into the fields of a ServerAddress.
#include "frame/server_address.h"

#include <cstring>

#include "frame/program_context.h"

namespace {
constexpr size_t SERVER_TEXT_LIMIT = 512;

enum Field { USER, PASSWORD, HOST, PORT, FIELD_COUNT };

// Cuts text (changed in place) into fields; a field that the text does not give, or
// gives empty, stays none.
void CutFields(char* text, char* fields[FIELD_COUNT]) {
    for (int i = 0; i < FIELD_COUNT; ++i) fields[i] = nullptr;
    const bool hasAt = strchr(text, '@') != nullptr;
    char* first = text;      // user, or the host when there is no "@"
    char* second = nullptr;  // password part, or the port when there is no "@"
    bool afterAt = false;
    for (char* p = text; *p != 0; ++p) {
        if (*p == '@') {
            *p = 0;
            fields[HOST] = p + 1;
            afterAt = true;
        } else if (*p == ':') {
            if (afterAt) {
                *p = 0;
                fields[PORT] = p + 1;
            } else if (second == nullptr) {
                *p = 0;
                second = p + 1;
            }
        }
    }
    if (hasAt) {
        fields[USER] = first;
        fields[PASSWORD] = second;
    } else {
        fields[HOST] = first;
        fields[PORT] = second;
    }
    for (int i = 0; i < FIELD_COUNT; ++i)
        if (fields[i] != nullptr && *fields[i] == 0) fields[i] = nullptr;
}

const char* Shown(const char* text) {
    return text != nullptr ? text : "";
}
}  // namespace

void InitServerAddress(ServerAddress* address, const char* user, const char*, const char* host,
                       const char* port) {
    memset(address->text, 0, sizeof address->text);
    address->user = user;
    address->passwordSpecification = "";
    address->host = host;
    address->port = port;
    address->passwordGiven = 0;
    address->parse = ParseServerString;
}

int ParseServerString(ServerAddress* address, const char* text, ProgramContext* context) {
    // The new fields are cut in a work copy first: fields kept from an earlier parse may
    // point into address->text, and must survive the new text being copied over it.
    char work[sizeof address->text] = {};
    size_t length = text != nullptr ? strnlen(text, SERVER_TEXT_LIMIT) : 0;
    memcpy(work, text != nullptr ? text : "", length);
    char* given[FIELD_COUNT];
    CutFields(work, given);

    const char** current[FIELD_COUNT] = {&address->user, &address->passwordSpecification,
                                         &address->host, &address->port};
    char fresh[sizeof address->text] = {};
    memcpy(fresh, work, length + 1);
    size_t used = length + 1;
    const char* result[FIELD_COUNT];
    for (int i = 0; i < FIELD_COUNT; ++i) {
        if (given[i] != nullptr) {
            result[i] = address->text + (given[i] - work);
            continue;
        }
        const char* kept = *current[i];
        bool inBuffer =
            kept != nullptr && kept >= address->text && kept < address->text + sizeof address->text;
        if (!inBuffer) {
            result[i] = kept;
            continue;
        }
        // Relocate a kept field behind the new text, cut to the space that is left.
        if (used >= sizeof fresh) {
            result[i] = "";
            continue;
        }
        size_t keptLength = strnlen(kept, address->text + sizeof address->text - kept);
        size_t room = sizeof fresh - used - 1;
        if (keptLength > room) keptLength = room;
        memcpy(fresh + used, kept, keptLength);
        fresh[used + keptLength] = 0;
        result[i] = address->text + used;
        used += keptLength + 1;
    }
    memcpy(address->text, fresh, sizeof address->text);
    for (int i = 0; i < FIELD_COUNT; ++i) *current[i] = result[i];

    const char* passwordSpecification = address->passwordSpecification;
    if (passwordSpecification != nullptr && passwordSpecification[0] == '-')
        address->passwordGiven = 1;

    if (context != nullptr)
        context->Message(context, MSG_INFO, 1,
                         "Server Interpreted as: Server(%s) Port(%s) User(%s) Password(%s)",
                         Shown(address->host), Shown(address->port), Shown(address->user),
                         address->passwordGiven == 1 ? "******" : Shown(passwordSpecification));
    return 1;
}
