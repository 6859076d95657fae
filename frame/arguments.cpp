// Argument intake: options from the command line (GNU getopt) or from a CGI form, values
// indirected to argument files, the checks each row asks for, and the option listing.
#include "frame/arguments.h"

#include <getopt.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/shown_text.h"
#include "base/value_format.h"
#include "frame/cgi_form.h"
#include "frame/program_information.h"
#include "frame/server_address.h"

namespace {
// A literal password on the command line is visible to every local user in the process's
// argument list (/proc/PID/cmdline). Once the server string is parsed, the password
// characters of the argument it came from are overwritten, as database clients do.
void HideArgumentPassword(ProgramContext* context, const char* value) {
    const auto address = reinterpret_cast<uintptr_t>(value);
    for (int i = 0; i < context->argc && context->argv != nullptr; ++i) {
        char* argument = context->argv[i];
        if (argument == nullptr) continue;
        const auto start = reinterpret_cast<uintptr_t>(argument);
        if (address < start || address > start + strlen(argument)) continue;
        char* text = argument + (address - start);
        // The password part runs from the first ":" to the first "@" after it.
        char* colon = strchr(text, ':');
        char* at = strchr(text, '@');
        if (colon == nullptr || at == nullptr || colon > at || colon[1] != '-') return;
        for (char* character = colon + 2; character < at; ++character) *character = 'x';
        return;
    }
}

constexpr char REFERENCE_PREFIX[] = "*FI:";
constexpr size_t REFERENCE_PREFIX_LENGTH = sizeof REFERENCE_PREFIX - 1;
constexpr size_t ARGUMENT_LINE_LIMIT = 255;

bool IsBlankText(const char* text) {
    for (; *text != 0; ++text)
        if (static_cast<unsigned char>(*text) > 32) return false;
    return true;
}

void CountError(ProgramContext* context, OptionEntry* row) {
    if (row != nullptr) row->flags |= OPT_ERROR;
    ++context->errorCount;
}

// An option of the long form where a value or a form variable belongs: the program knows
// none but --help and --version, so it is a mistake to report, not a text to use.
void RefuseLongOption(ProgramContext* context, OptionEntry* row, const char* where,
                      const char* argument) {
    Message(context, MSG_ERROR, 0, "Unrecognized option '%s' %s; see '%s --help'", argument, where,
            context->programName != nullptr ? context->programName : "");
    context->flags |= CTX_USAGE_ERROR;
    CountError(context, row);
}

// The checks a row asks for. Returns true when this value failed one of them.
bool CheckValue(ProgramContext* context, OptionEntry* row, const char* value) {
    bool failed = false;
    if ((row->flags & OPT_VALIDATE) != 0 && row->target != nullptr) {
        auto* validator = static_cast<OptionValidator*>(row->target);
        if (value[0] == 0)
            validator->flags |= 1;
        else if (validator->check != nullptr && validator->check(validator, value) == 0)
            failed = true;
    }
    if ((row->flags & OPT_SERVER) != 0 && row->target != nullptr) {
        auto* address = static_cast<ServerAddress*>(row->target);
        (address->parse != nullptr ? address->parse : ParseServerString)(address, value, context);
        if (address->passwordGiven == 1) row->flags |= OPT_HIDDEN;
        HideArgumentPassword(context, value);
        if (!IsPortNumber(address->port.c_str())) {
            Message(context, MSG_ERROR, 0,
                    "Server port %s in argument -%c is not a number from 1 to 65535",
                    address->port.c_str(), row->letter);
            failed = true;
        }
    }
    struct stat status;
    if ((row->flags & OPT_FILE) != 0 && stat(value, &status) != 0) {
        Message(context, MSG_ERROR, 0, "Argument -%c is not a valid file", row->letter);
        failed = true;
    }
    if ((row->flags & OPT_DIRECTORY) != 0) {
        struct statvfs space;
        if (stat(value, &status) != 0 || !S_ISDIR(status.st_mode)) {
            Message(context, MSG_ERROR, 0, "Argument -%c is not a valid directory", row->letter);
            failed = true;
        } else if (statvfs(value, &space) == 0) {
            uint64_t available = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
            Message(context, MSG_NOTICE, 0, "The Directory in argument -%c has %s available",
                    row->letter, FormatCount(available, COUNT_SIZE));
        }
    }
    if (failed) row->flags |= OPT_ERROR;
    return failed;
}

// Loads the values that name an argument file or standard input into the pool. The
// checks of a loaded value run on the loaded text: a server string or path kept in a file
// must be checked (and a literal password hidden) as if it had been given directly.
void LoadArgumentFiles(ProgramContext* context) {
    size_t used = 0;
    for (int i = 0; i < context->optionCount; ++i) {
        OptionEntry* row = &context->options[i];
        if (row->value == nullptr || !IsArgumentFileReference(*row->value)) continue;
        const char* name = *row->value + REFERENCE_PREFIX_LENGTH;
        bool fromInput = strcasecmp(name, "stdin") == 0;
        FILE* source = fromInput ? stdin : fopen(name, "re");
        char line[ARGUMENT_LINE_LIMIT + 1] = "";
        bool loaded = source != nullptr && fgets(line, sizeof line, source) != nullptr;
        if (source != nullptr && !fromInput) fclose(source);
        // An empty or unreadable file is a failed load too: keeping the reference text
        // as the value would hand "*FI:..." to the program as if it were the option.
        if (!loaded) {
            Message(context, MSG_ERROR, 0, "Load of argument -%c from file %s failed", row->letter,
                    name);
            CountError(context, row);
            continue;
        }
        TrimBlanks(line);
        if (IsLongOptionForm(line)) {
            std::string where = std::string("in argument file ") + name;
            RefuseLongOption(context, row, where.c_str(), line);
            continue;
        }
        size_t length = strlen(line);
        if (length >= sizeof context->argumentPool - used) {
            Message(context, MSG_ERROR, 0, "Dynamic load length overflow");
            CountError(context, row);
            continue;
        }
        char* stored = context->argumentPool + used;
        memcpy(stored, line, length + 1);
        used += length + 1;
        *row->value = stored;
        if (CheckValue(context, row, stored)) ++context->errorCount;
    }
}

void ReadCommandLine(ProgramContext* context, const char* optionString) {
    Message(context, MSG_INFO, 0, "Parsing and validating command arguments");
    if (context->argv != nullptr && context->argc > 0) {
        optind = 0;  // full restart of GNU getopt, POSIXLY_CORRECT read again
        opterr = 1;
        int letter;
        while ((letter = getopt(context->argc, context->argv, optionString)) != -1) {
            OptionEntry* row = FindOption(context, static_cast<char>(letter));
            if (row != nullptr) TakeOptionValue(context, row, optarg);
        }
    }
    LoadArgumentFiles(context);
}

// The POST body, with a line and an error for a body that cannot be taken.
bool ReadRequestBody(ProgramContext* context, std::string* body) {
    const CgiBody& posted = ReadCgiBody();
    switch (posted.status) {
        case CgiBody::COMPLETE:
            *body = posted.text;
            return true;
        case CgiBody::BAD_LENGTH:
            Message(context, MSG_ERROR, 0, "CGI request length '%s' is not a number",
                    getenv("CONTENT_LENGTH"));
            break;
        case CgiBody::TOO_LONG:
            Message(context, MSG_ERROR, 0,
                    "CGI request length %llu is more than the %zu bytes accepted", posted.expected,
                    CGI_BODY_LIMIT);
            break;
        case CgiBody::SHORT:
            Message(context, MSG_ERROR, 0, "CGI request body ended after %zu of %llu bytes",
                    posted.text.size(), posted.expected);
            break;
    }
    CountError(context, nullptr);
    return false;
}

bool ReadCgiRequest(ProgramContext* context, std::vector<FormVariable>* variables) {
    auto environment = [](const char* name) {
        const char* value = getenv(name);
        return value != nullptr ? value : "";
    };
    CgiRequest request{environment("REQUEST_METHOD"),
                       environment("QUERY_STRING"),
                       environment("CONTENT_TYPE"),
                       {}};
    std::string body;
    switch (ClassifyCgiMethod(request.method)) {
        case CGI_OTHER:
            Message(context, MSG_WARNING, 0, "CGI request method %s carries no form variables",
                    environment("REQUEST_METHOD"));
            return true;
        case CGI_POST:
            if (!ReadRequestBody(context, &body)) return false;
            request.body = body;
            break;
        case CGI_GET:
            break;
    }
    std::string error;
    if (ParseCgiForm(request, variables, &error)) return true;
    Message(context, MSG_ERROR, 0, "CGI form could not be read: %s", error.c_str());
    CountError(context, nullptr);
    return false;
}

const FormVariable* FindFormVariable(const std::vector<FormVariable>& variables, char letter) {
    for (const FormVariable& variable : variables)
        if (variable.name.size() == 1 && tolower(static_cast<unsigned char>(variable.name[0])) ==
                                             tolower(static_cast<unsigned char>(letter)))
            return &variable;
    return nullptr;
}

void ReadCgiForm(ProgramContext* context) {
    context->flags |= CTX_CGI;
    Message(context, MSG_INFO, 0, "Parsing and validating CGI arguments");
    std::vector<FormVariable> variables;
    if (!ReadCgiRequest(context, &variables)) return;
    for (const FormVariable& variable : variables)
        if (IsLongOptionForm(variable.name.c_str()))
            RefuseLongOption(context, nullptr, "in the CGI form", ShownText(variable.name).c_str());
    for (int i = 0; i < context->optionCount; ++i) {
        OptionEntry* row = &context->options[i];
        const FormVariable* variable = FindFormVariable(variables, row->letter);
        if (variable == nullptr || variable->value.empty()) continue;
        std::string decoded = DecodeFormValue(variable->value);
        // A zero byte would silently cut the value short in every text that carries it.
        if (decoded.find('\0') != std::string::npos) {
            Message(context, MSG_ERROR, 0, "CGI value of argument -%c holds a zero byte",
                    row->letter);
            CountError(context, row);
            continue;
        }
        bool stored = row->value != nullptr && (row->flags & OPT_NOSTORE) == 0;
        if (!stored) {
            TakeOptionValue(context, row, decoded.c_str());
            continue;
        }
        char* copy = strdup(decoded.c_str());
        if (copy == nullptr) continue;
        TakeOptionValue(context, row, copy);
        row->flags |= OPT_ALLOCATED;
    }
}

void CheckRequiredValues(ProgramContext* context) {
    for (int i = 0; i < context->optionCount; ++i) {
        OptionEntry* row = &context->options[i];
        if ((row->flags & OPT_REQUIRED) == 0) continue;
        if (row->value != nullptr && *row->value != nullptr && !IsBlankText(*row->value)) continue;
        Message(context, MSG_ERROR, 0, "Value for argument -%c is blank and a value is required",
                row->letter);
        CountError(context, row);
    }
}

void ListOptions(ProgramContext* context) {
    Message(context, MSG_INFO, 2, "Program Options:");
    for (int i = 0; i < context->optionCount; ++i) {
        const OptionEntry* row = &context->options[i];
        const char* shown;
        if ((row->flags & OPT_HIDDEN) != 0)
            shown = "<VALUE HIDDEN>";
        else if (row->value != nullptr)
            shown = *row->value != nullptr ? *row->value : "";
        else
            shown = (row->flags & OPT_SET) != 0 ? "true" : "false";
        Message(context, (row->flags & OPT_ERROR) != 0 ? MSG_ERROR : MSG_INFO, 2, "\t(%c) %s=%s",
                row->letter, row->description != nullptr ? row->description : "", shown);
    }
}
}  // namespace

int BuildOptionString(const OptionEntry* table, char* out, size_t size) {
    size_t length = 0;
    int rows = 0;
    bool full = size == 0;
    if (size > 0) out[0] = 0;
    for (const OptionEntry* row = table; row->letter != 0; ++row, ++rows) {
        size_t needed = row->value != nullptr ? 2 : 1;
        full = full || length + needed >= size;
        if (full) continue;  // no later letter either: getopt must not see half a table
        out[length++] = row->letter;
        if (row->value != nullptr) out[length++] = ':';
        out[length] = 0;
    }
    return rows;
}

OptionEntry* FindOption(ProgramContext* context, char letter) {
    if (context->options == nullptr) return nullptr;
    OptionEntry* first = context->options;
    OptionEntry* last = first + context->optionCount;
    auto byLetter = [](const OptionEntry& row, unsigned char wanted) {
        return static_cast<unsigned char>(row.letter) < wanted;
    };
    OptionEntry* found =
        std::lower_bound(first, last, static_cast<unsigned char>(letter), byLetter);
    return found != last && found->letter == letter ? found : nullptr;
}

bool IsArgumentFileReference(const char* value) {
    return value != nullptr && strncmp(value, REFERENCE_PREFIX, REFERENCE_PREFIX_LENGTH) == 0 &&
           strlen(value) > REFERENCE_PREFIX_LENGTH + 1;
}

void TakeOptionValue(ProgramContext* context, OptionEntry* row, const char* value) {
    if (row == nullptr) return;
    if (row->value == nullptr) {
        row->flags |= OPT_SET;
        if (row->target != nullptr) *static_cast<int32_t*>(row->target) = 1;
        return;
    }
    if (value == nullptr) value = "";
    // A command-line reference to an argument file is checked once the file is loaded.
    bool deferred = (context->flags & CTX_CGI) == 0 && IsArgumentFileReference(value);
    if (!deferred) CheckValue(context, row, value);
    if (row->onValue != nullptr) row->onValue(context, row, value);
    if ((row->flags & OPT_ERROR) != 0) ++context->errorCount;
    if ((row->flags & OPT_NOSTORE) == 0) *row->value = value;
}

int ReadArguments(ProgramContext* context) {
    if (context->options == nullptr) return 0;
    char optionString[OPTION_STRING_SIZE];
    context->optionCount = BuildOptionString(context->options, optionString, sizeof optionString);
    std::stable_sort(context->options, context->options + context->optionCount,
                     [](const OptionEntry& a, const OptionEntry& b) {
                         return static_cast<unsigned char>(a.letter) <
                                static_cast<unsigned char>(b.letter);
                     });
    if (getenv("REQUEST_URI") != nullptr)
        ReadCgiForm(context);
    else
        ReadCommandLine(context, optionString);
    CheckRequiredValues(context);
    ListOptions(context);
    Message(context, context->errorCount == 0 ? MSG_INFO : MSG_ERROR, 0,
            "Arguments parsed and validated with %u errors", context->errorCount);
    return 1;
}
