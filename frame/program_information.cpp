// --help and --version of a command program, answered before the banner and the log.
#include "frame/program_information.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/version_text.h"

namespace {

const OptionEntry* FindRow(const OptionEntry* options, char letter) {
    for (const OptionEntry* row = options; row != nullptr && row->letter != 0; ++row)
        if (row->letter == letter) return row;
    return nullptr;
}

const char* ValueName(const OptionEntry& row) {
    return (row.flags & OPT_SERVER) != 0 ? "USER:PASSWORD@HOST:PORT" : "VALUE";
}

enum class Request { NONE, HELP, VERSION, UNKNOWN, UNEXPECTED };

// Reads the arguments as getopt will: a value that follows its option letter is passed
// over, so "-o --help" names an output file, and "--" ends the options. Any other
// argument of the long form is unknown: getopt would read "--output=x" as the letters
// "-", "o" and the value "utput=x", a plainly wrong run. A word that belongs to no option
// (most often the shell's expansion of an unquoted pattern, "-f *.txt", whose second name
// would be dropped in silence) is unexpected. *unknown names either; --help and --version
// anywhere before "--" still win.
Request FindRequest(int argc, char** argv, const OptionEntry* options, const char** unknown) {
    const bool helpLetterFree = FindRow(options, 'h') == nullptr;
    const char* stray = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (strcmp(argument, "--") == 0) {
            if (stray == nullptr && i + 1 < argc) stray = argv[i + 1];
            break;
        }
        if (strcmp(argument, "--help") == 0) return Request::HELP;
        if (strcmp(argument, "--version") == 0) return Request::VERSION;
        if (IsLongOptionForm(argument)) {
            *unknown = argument;
            return Request::UNKNOWN;
        }
        if (helpLetterFree && strcmp(argument, "-h") == 0) return Request::HELP;
        if (argument[0] != '-' || argument[1] == 0) {
            if (stray == nullptr) stray = argument;
            continue;
        }
        for (const char* letter = argument + 1; *letter != 0; ++letter) {
            const OptionEntry* row = FindRow(options, *letter);
            if (row == nullptr || row->value == nullptr) continue;
            if (letter[1] == 0) ++i;  // the value is the next argument
            break;
        }
    }
    if (stray == nullptr) return Request::NONE;
    *unknown = stray;
    return Request::UNEXPECTED;
}

// The line for an argument of the long form that the program does not know.
void ReportUnknownLongOption(FILE* out, const char* programName, const char* argument) {
    fprintf(out, "%s: unrecognized option '%s'; see '%s --help'\n", programName, argument,
            programName);
}

}  // namespace

void WriteUsage(FILE* out, const ProgramInformation& information) {
    std::string usage = std::string("Usage: ") + information.programName;
    size_t width = strlen("-h, --help");
    bool optional = false;
    for (const OptionEntry* row = information.options; row != nullptr && row->letter != 0; ++row) {
        size_t length = 2 + (row->value != nullptr ? 1 + strlen(ValueName(*row)) : 0);
        if (length > width) width = length;
        if ((row->flags & OPT_REQUIRED) == 0) {
            optional = true;
            continue;
        }
        usage += std::string(" -") + row->letter;
        if (row->value != nullptr) usage += std::string(" ") + ValueName(*row);
    }
    fprintf(out, "%s%s\n%s: %s.\n", usage.c_str(), optional ? " [OPTION]..." : "",
            information.programName, information.description);
    if (information.options != nullptr) fprintf(out, "\nOptions:\n");
    const int column = static_cast<int>(width) + 3;
    for (const OptionEntry* row = information.options; row != nullptr && row->letter != 0; ++row) {
        std::string term = std::string("-") + row->letter;
        if (row->value != nullptr) term += std::string(" ") + ValueName(*row);
        fprintf(out, "  %-*s%s%s\n", column, term.c_str(), row->description,
                (row->flags & OPT_REQUIRED) != 0 ? " (required)" : "");
    }
    const bool helpLetterFree = FindRow(information.options, 'h') == nullptr;
    fprintf(out, "  %-*s%s\n", column, helpLetterFree ? "-h, --help" : "    --help",
            "show this text and exit");
    fprintf(out, "  %-*s%s\n", column, "    --version", "show the release and build date and exit");
    fprintf(out, "\nThe environment variables, exit statuses and examples: man %s\n",
            information.programName);
}

bool IsLongOptionForm(const char* argument) {
    return argument[0] == '-' && argument[1] == '-' && argument[2] != 0;
}

int AnswerInformationRequest(int argc, char** argv, const ProgramInformation& information) {
    if (getenv("REQUEST_URI") != nullptr) return INFORMATION_NONE;
    const char* unknown = nullptr;
    switch (FindRequest(argc, argv, information.options, &unknown)) {
        case Request::HELP:
            WriteUsage(stdout, information);
            break;
        case Request::VERSION:
            WriteVersion(stdout, information.programName, information.buildDate,
                         information.buildTime);
            break;
        case Request::UNKNOWN:
            ReportUnknownLongOption(stderr, information.programName, unknown);
            return 2;
        case Request::UNEXPECTED:
            fprintf(stderr,
                    "%s: unexpected argument '%s' (quote a pattern so that the shell does not "
                    "expand it); see '%s --help'\n",
                    information.programName, unknown, information.programName);
            return 2;
        case Request::NONE:
            return INFORMATION_NONE;
    }
    fflush(stdout);
    return 0;
}
