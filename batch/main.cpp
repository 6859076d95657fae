// ZYMBBatch: edits and runs batch definitions in its window, or runs one without a window
// with --run; schedules runs on systemd timers and shows the history of runs. The window
// lives in a module of its own, loaded only when it is needed: the window toolkit's
// libraries take longer to load than a short headless run takes, and a server installs
// the program without them.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/version_text.h"
#include "batch/crash_handler.h"
#include "batch/headless_run.h"
#include "batch/history_command.h"
#include "batch/program_search.h"
#include "batch/schedule.h"

namespace {

constexpr const char* kWindowModule = "zymb-batch-window.so";
constexpr const char* kWindowPackage = "zymb-batch-window";

int RunWindow(int argc, char** argv) {
    // The module sits beside the program in the build tree, and in the library folder
    // given at build time (relative to the program's folder) once installed.
    const std::string own = OwnProgramFolder();
    const std::string folder = own.empty() ? std::string(".") : own;
    std::string candidates[] = {folder + "/" + kWindowModule,
                                folder + "/" + ZYMB_WINDOW_MODULE_DIR + "/" + kWindowModule};
    std::string reasons;
    for (const std::string& candidate : candidates) {
        if (access(candidate.c_str(), F_OK) != 0) continue;
        void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            reasons += std::string("\n  ") + dlerror();
            continue;
        }
        auto entry = reinterpret_cast<int (*)(int, char**)>(dlsym(module, "ZymbBatchWindowMain"));
        if (entry == nullptr) {
            reasons += std::string("\n  ") + candidate + ": no window entry";
            continue;
        }
        return entry(argc, argv);  // the module stays loaded until the program ends
    }
    if (reasons.empty())
        fprintf(stderr,
                "ZYMBBatch: the window is not installed; it comes with the package %s "
                "(apt install %s)\n",
                kWindowPackage, kWindowPackage);
    else
        fprintf(stderr, "ZYMBBatch: the window cannot be shown: %s was not loaded%s\n",
                kWindowModule, reasons.c_str());
    fprintf(stderr,
            "ZYMBBatch: a definition still runs without a window: ZYMBBatch --run FILE.cvbatch\n");
    return 2;
}

void PrintHelp() {
    printf(
        "Usage: ZYMBBatch [FILE.cvbatch]      edit and run batch definitions in a window\n"
        "       ZYMBBatch --run FILE.cvbatch  run one without a window\n"
        "       ZYMBBatch --schedule FILE.cvbatch --on-calendar EXPR\n"
        "       ZYMBBatch --unschedule FILE.cvbatch | --schedules\n"
        "       ZYMBBatch --history [N] [--json]\n"
        "\n"
        "Options:\n"
        "  --run FILE.cvbatch  run the definition without a window; the exit status is\n"
        "                      the program's (2: the definition cannot be used)\n"
        "  --schedule FILE.cvbatch\n"
        "                      run the definition with a systemd user timer\n"
        "  --on-calendar EXPR  when the timer runs it, as systemd's OnCalendar= takes it\n"
        "                      (\"daily\", \"Mon..Fri 06:30\", \"*-*-* 02:00:00\")\n"
        "  --unschedule FILE.cvbatch\n"
        "                      stop and remove the definition's timer\n"
        "  --schedules         list the scheduled definitions with their next and last run\n"
        "  --history [N]       list the last N runs (default 20) as a table\n"
        "  --json              with --history: one JSON object per line, for scripts\n"
        "  -h, --help          show this text and exit\n"
        "      --version       show the release and build date and exit\n"
        "\n"
        "ZYMBVARFILE names the file of $NAME variables. The file formats, settings\n"
        "files and exit statuses: man ZYMBBatch\n");
}

// A command line ZYMBBatch cannot use: one line, then status 2.
int Refuse(const std::string& text) {
    fprintf(stderr, "ZYMBBatch: %s; see ZYMBBatch --help\n", text.c_str());
    return 2;
}

struct CommandLine {
    std::string mode;  // "" (the window), "--run", "--history", "--schedule", ...
    std::string file;
    bool hasFile = false;
    std::string calendar;
    bool hasCalendar = false;
    size_t historyCount = 20;
    bool json = false;
    bool help = false;
    bool version = false;
};

bool IsCount(const char* text) {
    if (*text == '\0' || strlen(text) > 9) return false;
    for (const char* c = text; *c != '\0'; ++c)
        if (*c < '0' || *c > '9') return false;
    return true;
}

// Reads the command line into *line; "" when it can be used, else the reason for the first
// fault. The whole line is read either way, so --help after a fault is still seen.
std::string ParseCommandLine(int argc, char** argv, CommandLine* line) {
    std::string firstFault;
    auto setMode = [line](const std::string& mode) -> std::string {
        if (!line->mode.empty() && line->mode != mode)
            return line->mode + " and " + mode + " cannot be given together";
        line->mode = mode;
        return std::string();
    };
    auto setFile = [line](const std::string& file) -> std::string {
        if (line->hasFile) return "only one definition can be given (" + file + ")";
        line->file = file;
        line->hasFile = true;
        return std::string();
    };
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (!options || argument.size() < 2 || argument[0] != '-') {
            if (std::string fault = setFile(argument); firstFault.empty()) firstFault = fault;
            continue;
        }
        if (argument == "--") {
            options = false;
            continue;
        }
        // --name=value and --name value both give a value.
        std::string name = argument, value;
        bool inlineValue = false;
        if (size_t equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            inlineValue = true;
        }
        auto takeValue = [&](const char* what) -> std::string {
            if (inlineValue) return std::string();
            if (i + 1 >= argc) return name + " needs " + what;
            value = argv[++i];
            return std::string();
        };
        std::string fault;
        if (argument == "--help" || argument == "-h") {
            line->help = true;
        } else if (argument == "--version") {
            line->version = true;
        } else if (name == "--run" || name == "--schedule" || name == "--unschedule") {
            fault = setMode(name);
            if (fault.empty()) fault = takeValue("a FILE.cvbatch");
            if (fault.empty()) fault = setFile(value);
        } else if (name == kCrashReportOption) {
            // The window's own start after a crash, to show the report it names.
            fault = setMode(name);
            if (fault.empty()) fault = takeValue("a report path");
            if (fault.empty()) fault = setFile(value);
        } else if (name == "--on-calendar") {
            fault = takeValue("a calendar expression");
            line->calendar = value;
            line->hasCalendar = true;
        } else if (name == "--history") {
            fault = setMode(name);
            if (inlineValue || (i + 1 < argc && IsCount(argv[i + 1]))) {
                if (!inlineValue) value = argv[++i];
                if (!IsCount(value.c_str()) || std::stoul(value) == 0)
                    fault = "--history takes a number of runs above 0, not '" + value + "'";
                else
                    line->historyCount = std::stoul(value);
            }
        } else if (name == "--json" && !inlineValue) {
            line->json = true;
        } else if (name == "--schedules" && !inlineValue) {
            fault = setMode(name);
        } else {
            fault = "unknown option '" + argument + "'";
        }
        if (firstFault.empty()) firstFault = fault;
    }
    if (!firstFault.empty()) return firstFault;
    if (line->json && line->mode != "--history") return "--json goes with --history";
    if (line->hasCalendar && line->mode != "--schedule")
        return "--on-calendar goes with --schedule";
    if (line->mode == "--schedule" && !line->hasCalendar)
        return "--schedule needs --on-calendar EXPR";
    if ((line->mode == "--history" || line->mode == "--schedules") && line->hasFile)
        return "unexpected argument '" + line->file + "'";
    return std::string();
}

int Schedule(const CommandLine& line) {
    ScheduleOutcome outcome;
    if (line.mode == "--schedule") {
        // The unit carries the variable file's path; one that cannot be read now would
        // leave every scheduled run with its references as written.
        ScheduleSetting setting = CurrentScheduleSetting();
        if (!setting.variableFile.empty() && access(setting.variableFile.c_str(), R_OK) != 0)
            fprintf(stderr, "ZYMBBatch: warning: the variable file %s cannot be read: %s\n",
                    setting.variableFile.c_str(), strerror(errno));
        outcome = ScheduleDefinition(line.file, line.calendar, setting);
    } else {
        outcome = UnscheduleDefinition(line.file);
    }
    for (const std::string& text : outcome.lines) printf("%s\n", text.c_str());
    if (outcome.status != 0) fprintf(stderr, "%s\n", outcome.error.c_str());
    return outcome.status;
}

}  // namespace

int main(int argc, char** argv) {
    // A standard stream that was closed would be the number of the next file opened (the
    // batch log, a pipe), and the echo or a message would land there: each gets /dev/null.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) close(opened);
    }
    CommandLine line;
    std::string fault = ParseCommandLine(argc, argv, &line);
    // --help and --version win over everything else on the line, a fault included; a value
    // that reads "--help" is still the value of its option.
    if (line.help) {
        PrintHelp();
        return 0;
    }
    if (line.version) {
        WriteVersion(stdout, "ZYMBBatch", __DATE__, __TIME__);
        return 0;
    }
    if (!fault.empty()) return Refuse(fault);
    if (line.mode == "--run") return RunBatchHeadless(line.file.c_str());
    if (line.mode == "--schedule" || line.mode == "--unschedule") return Schedule(line);
    if (line.mode == "--schedules") return PrintSchedules(stdout);
    if (line.mode == "--history") return PrintHistory(stdout, line.historyCount, line.json);
    // The window takes the definition to load as its one argument.
    std::vector<char*> windowArguments = {argv[0]};
    if (line.mode == kCrashReportOption)
        windowArguments.push_back(const_cast<char*>(kCrashReportOption));
    if (line.hasFile) windowArguments.push_back(line.file.data());
    windowArguments.push_back(nullptr);
    return RunWindow(static_cast<int>(windowArguments.size()) - 1, windowArguments.data());
}
