// Scheduled runs as systemd user units: names, unit texts, the calendar check, and the
// calls to systemctl.
#include "batch/schedule.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "batch/batch_definition.h"
#include "batch/program_search.h"
#include "batch/user_folders.h"
#include "platform/io.h"
#include "platform/whole_file.h"

namespace {

constexpr const char* kUnitPrefix = "zymb-batch-";
constexpr const char* kDefinitionKey = "X-ZymbDefinition=";

struct CommandResult {
    bool started = false;
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program found on PATH to its end, collecting its output; standard input is empty.
CommandResult RunCommand(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    CommandResult result;
    gchar* out = nullptr;
    gchar* err = nullptr;
    gint wait = 0;
    result.started = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                                  nullptr, &out, &err, &wait, nullptr);
    if (out != nullptr) result.out = out;
    if (err != nullptr) result.err = err;
    g_free(out);
    g_free(err);
    if (result.started) result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
    return result;
}

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

std::string Trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return std::string();
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

// A text for a message, with control characters shown as escapes, so that it stays on
// one line.
std::string Shown(const std::string& text) {
    std::string shown;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            shown += "\\n";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02x", byte);
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown;
}

bool UserManagerReachable() {
    return RunCommand({"systemctl", "--user", "show-environment"}).status == 0;
}

bool HasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// An absolute path without "." and ".." steps, symbolic links resolved when it exists.
std::string AbsolutePath(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    std::string whole = path;
    if (path.empty() || path[0] != '/') {
        char folder[PATH_MAX];
        if (getcwd(folder, sizeof folder) == nullptr) return path;
        whole = std::string(folder) + "/" + path;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= whole.size()) {
        size_t end = whole.find('/', start);
        if (end == std::string::npos) end = whole.size();
        std::string part = whole.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

// Specifiers ("%n") are expanded in unit settings: a literal percent sign is doubled.
std::string UnitText(const std::string& text) {
    std::string escaped;
    for (char c : text) escaped += c == '%' ? std::string("%%") : std::string(1, c);
    return escaped;
}

// One word of ExecStart= or Environment=, quoted, so spaces, quotes, backslashes, dollar
// signs and percent signs reach the program as they are.
std::string UnitWord(const std::string& text, bool command) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        if (c == '$' && command) quoted += '$';
        quoted += c;
    }
    return quoted + "\"";
}

bool WriteUnitFile(const std::string& path, const std::string& text, std::string* reason) {
    int error = Platform_ReplaceFile(path.c_str(), text.data(), text.size());
    if (error != 0) *reason = path + ": " + strerror(error);
    return error == 0;
}

// The values of key in a unit file's text ("" when it has none).
std::string UnitValue(const std::string& text, const std::string& key) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.compare(0, key.size(), key) == 0) return Trimmed(line.substr(key.size()));
        start = end + 1;
    }
    return std::string();
}

std::string ReadText(const std::string& path) {
    struct FileCloser {
        void operator()(FILE* file) const { fclose(file); }
    };
    std::unique_ptr<FILE, FileCloser> file(fopen(path.c_str(), "re"));
    std::string text;
    if (!file) return text;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, count);
    return text;
}

std::string StampTimeText(time_t when) {
    struct tm local;
    char text[64];
    if (localtime_r(&when, &local) == nullptr ||
        strftime(text, sizeof text, "%a %Y-%m-%d %H:%M:%S %Z", &local) == 0)
        return std::string();
    return text;
}

// The manager's own word on a timer's property; "" when it has none.
std::string TimerProperty(const std::string& timer, const char* property) {
    CommandResult shown =
        RunCommand({"systemctl", "--user", "show", timer, "-p", property, "--value"});
    std::string value = shown.status == 0 ? FirstLine(shown.out) : std::string();
    return value == "n/a" || value == "0" ? std::string() : value;
}

}  // namespace

CalendarCheck CheckCalendarExpression(const std::string& expression, int count) {
    CalendarCheck check;
    if (Trimmed(expression).empty() || HasControlCharacter(expression)) {
        check.reason = "invalid calendar expression '" + Shown(expression) + "'";
        return check;
    }
    CommandResult analysed =
        RunCommand({"systemd-analyze", "calendar",
                    "--iterations=" + std::to_string(std::max(count, 1)), "--", expression});
    if (!analysed.started) {
        check.reason = "systemd-analyze was not found; scheduled runs need systemd";
        return check;
    }
    if (analysed.status != 0) {
        std::string said = FirstLine(analysed.err);
        check.reason = "invalid calendar expression '" + expression + "'" +
                       (said.empty() ? std::string() : " (" + said + ")");
        return check;
    }
    size_t start = 0;
    const std::string& text = analysed.out;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = Trimmed(text.substr(start, end - start));
        size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            std::string key = line.substr(0, colon), value = Trimmed(line.substr(colon + 2));
            if (key == "Normalized form") check.normalized = value;
            if (key == "Next elapse" || key.compare(0, 7, "Iter. #") == 0)
                check.nextTimes.push_back(value);
        }
        start = end + 1;
    }
    if (check.nextTimes.empty() || check.nextTimes[0] == "never") {
        check.nextTimes.clear();
        check.reason = "the calendar expression '" + expression + "' never elapses";
        return check;
    }
    check.ok = true;
    return check;
}

ScheduleSetting CurrentScheduleSetting() {
    ScheduleSetting setting;
    std::string own = OwnProgramFolder();
    setting.program = own.empty() ? std::string("ZYMBBatch") : own + "/ZYMBBatch";
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) != nullptr) setting.workingFolder = folder;
    const char* variables = getenv("ZYMBVARFILE");
    if (variables != nullptr && *variables != '\0') setting.variableFile = AbsolutePath(variables);
    const char* path = getenv("PATH");
    if (path != nullptr) setting.searchPath = path;
    return setting;
}

std::string ScheduleUnitFolder() {
    std::string folder = UserFolder("XDG_CONFIG_HOME", ".config");
    return folder.empty() ? folder : folder + "/systemd/user";
}

std::string ScheduleUnitName(const std::string& absoluteDefinition) {
    std::string base = absoluteDefinition.substr(absoluteDefinition.rfind('/') + 1);
    const std::string extension = ".cvbatch";
    if (base.size() > extension.size() &&
        base.compare(base.size() - extension.size(), extension.size(), extension) == 0)
        base.resize(base.size() - extension.size());
    // Unit names take few characters: the rest become "_", and the hash tells apart
    // names that then look alike.
    std::string name;
    for (char c : base) {
        bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_';
        if (kept)
            name += c;
        else if (name.empty() || name.back() != '_')
            name += '_';
        if (name.size() >= 48) break;
    }
    if (name.empty() || name == "_") name = "definition";
    std::unique_ptr<gchar, decltype(&g_free)> digest(
        g_compute_checksum_for_string(G_CHECKSUM_SHA256, absoluteDefinition.c_str(), -1), g_free);
    return std::string(kUnitPrefix) + name + "-" + std::string(digest.get()).substr(0, 8);
}

std::string ScheduleServiceText(const std::string& absoluteDefinition,
                                const ScheduleSetting& setting) {
    std::string text = "# Written by ZYMBBatch --schedule; removed by ZYMBBatch --unschedule.\n";
    text += "[Unit]\n";
    text += "Description=Corvantix batch run of " + UnitText(absoluteDefinition) + "\n";
    text += std::string(kDefinitionKey) + absoluteDefinition + "\n\n";
    text += "[Service]\nType=oneshot\n";
    if (!setting.workingFolder.empty())
        text += "WorkingDirectory=" + UnitText(setting.workingFolder) + "\n";
    if (!setting.variableFile.empty())
        text += "Environment=" + UnitWord("ZYMBVARFILE=" + setting.variableFile, false) + "\n";
    if (!setting.searchPath.empty())
        text += "Environment=" + UnitWord("PATH=" + setting.searchPath, false) + "\n";
    text += "ExecStart=" + UnitWord(setting.program, true) + " --run " +
            UnitWord(absoluteDefinition, true) + "\n";
    return text;
}

std::string ScheduleTimerText(const std::string& absoluteDefinition, const std::string& unitName,
                              const std::string& expression) {
    std::string text = "# Written by ZYMBBatch --schedule; removed by ZYMBBatch --unschedule.\n";
    text += "[Unit]\n";
    text += "Description=Scheduled Corvantix batch run of " + UnitText(absoluteDefinition) + "\n";
    text += std::string(kDefinitionKey) + absoluteDefinition + "\n\n";
    text += "[Timer]\nOnCalendar=" + expression + "\nPersistent=true\n";
    text += "Unit=" + unitName + ".service\n\n";
    text += "[Install]\nWantedBy=timers.target\n";
    return text;
}

ScheduleOutcome ScheduleDefinition(const std::string& definition, const std::string& expression,
                                   const ScheduleSetting& setting) {
    ScheduleOutcome outcome;
    auto refuse = [&outcome](int status, const std::string& text) {
        outcome.status = status;
        outcome.error = "ZYMBBatch: " + text;
        return outcome;
    };
    std::string absolute = AbsolutePath(definition);
    struct stat status;
    if (stat(absolute.c_str(), &status) != 0) return refuse(2, definition + ": " + strerror(errno));
    // A FIFO or a device would block the read below, and cannot be a definition anyway.
    if (!S_ISREG(status.st_mode)) return refuse(2, definition + ": not a regular file");
    // No definition is this large; reading one would take minutes.
    if (status.st_size > 1024 * 1024) return refuse(2, definition + ": larger than 1 MiB");
    if (HasControlCharacter(absolute) || HasControlCharacter(setting.workingFolder))
        return refuse(2, Shown(definition) + ": a path with a line break cannot be scheduled");
    BatchDefinition parsed;
    BatchReadResult read = parsed.Read(absolute.c_str());
    if (!read.ok)
        return refuse(2, definition + ": " + read.errorText +
                             (read.errorLine > 0 ? " on line " + std::to_string(read.errorLine)
                                                 : std::string()));
    CalendarCheck check = CheckCalendarExpression(expression, 3);
    if (!check.ok) return refuse(2, check.reason);

    std::string folder = ScheduleUnitFolder();
    std::string reason;
    if (folder.empty())
        return refuse(1, "no folder for the units (neither XDG_CONFIG_HOME nor HOME is set)");
    if (!MakeFolders(folder, &reason)) return refuse(1, reason);
    std::string name = ScheduleUnitName(absolute);
    std::string service = folder + "/" + name + ".service";
    std::string timer = folder + "/" + name + ".timer";
    if (!WriteUnitFile(service, ScheduleServiceText(absolute, setting), &reason))
        return refuse(1, reason);
    if (!WriteUnitFile(timer, ScheduleTimerText(absolute, name, expression), &reason)) {
        unlink(service.c_str());
        return refuse(1, reason);
    }
    outcome.lines.push_back("Scheduled " + absolute + ": " + expression + " (" + check.normalized +
                            ")");
    outcome.lines.push_back("  " + service);
    outcome.lines.push_back("  " + timer);
    std::string next;
    for (const std::string& when : check.nextTimes) next += (next.empty() ? "" : ", ") + when;
    outcome.lines.push_back("Next runs: " + next);

    // A user's timers stop when the user's last session ends, unless the user lingers.
    const passwd* user = getpwuid(getuid());
    std::string userName = user != nullptr ? user->pw_name : "USER";
    std::string lingerHint;
    if (access(("/var/lib/systemd/linger/" + userName).c_str(), F_OK) != 0)
        lingerHint = "To run it while you are logged out too: loginctl enable-linger " + userName;
    if (!UserManagerReachable()) {
        outcome.lines.push_back("No user service manager is reachable. To start the timer, run:");
        outcome.lines.push_back("  systemctl --user daemon-reload");
        outcome.lines.push_back("  systemctl --user enable --now " + name + ".timer");
        if (!lingerHint.empty()) outcome.lines.push_back(lingerHint);
        return outcome;
    }
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"systemctl", "--user", "daemon-reload"},
          std::vector<std::string>{"systemctl", "--user", "enable", "--now", name + ".timer"}}) {
        CommandResult result = RunCommand(command);
        if (result.status != 0)
            return refuse(1,
                          "systemctl --user " + command[2] + " failed: " + FirstLine(result.err));
    }
    outcome.lines.push_back("Timer " + name + ".timer enabled and started.");
    if (!lingerHint.empty()) outcome.lines.push_back(lingerHint);
    return outcome;
}

ScheduleOutcome UnscheduleDefinition(const std::string& definition) {
    ScheduleOutcome outcome;
    std::string absolute = AbsolutePath(definition);
    std::string folder = ScheduleUnitFolder();
    std::string name;
    for (const ScheduledRun& run : ListSchedules())
        if (run.definition == absolute) name = run.unitName;
    if (name.empty()) {
        outcome.status = 1;
        outcome.error = "ZYMBBatch: " + absolute + " is not scheduled";
        return outcome;
    }
    bool reachable = UserManagerReachable();
    if (reachable) {
        // A run in progress is left to end; only the timer stops.
        CommandResult disabled =
            RunCommand({"systemctl", "--user", "disable", "--now", name + ".timer"});
        if (disabled.status != 0)
            outcome.lines.push_back("systemctl --user disable: " + FirstLine(disabled.err));
    }
    std::string link = folder + "/timers.target.wants/" + name + ".timer";
    unlink(link.c_str());
    for (const char* suffix : {".timer", ".service"}) {
        std::string path = folder + "/" + name + suffix;
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            outcome.status = 1;
            outcome.error = "ZYMBBatch: " + path + ": " + strerror(errno);
            return outcome;
        }
    }
    outcome.lines.push_back("Unscheduled " + absolute + " (" + name + ".timer removed)");
    if (reachable)
        RunCommand({"systemctl", "--user", "daemon-reload"});
    else
        outcome.lines.push_back(
            "No user service manager is reachable; when one runs: "
            "systemctl --user daemon-reload");
    return outcome;
}

std::vector<ScheduledRun> ListSchedules() {
    std::vector<ScheduledRun> runs;
    std::string folder = ScheduleUnitFolder();
    if (folder.empty()) return runs;
    struct DirectoryCloser {
        void operator()(DIR* directory) const { closedir(directory); }
    };
    std::unique_ptr<DIR, DirectoryCloser> directory(opendir(folder.c_str()));
    if (!directory) return runs;
    const std::string prefix = kUnitPrefix, suffix = ".timer";
    while (dirent* entry = readdir(directory.get())) {
        std::string file = entry->d_name;
        if (file.size() <= prefix.size() + suffix.size() ||
            file.compare(0, prefix.size(), prefix) != 0 ||
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        std::string text = ReadText(folder + "/" + file);
        ScheduledRun run;
        run.unitName = file.substr(0, file.size() - suffix.size());
        run.definition = UnitValue(text, kDefinitionKey);
        run.expression = UnitValue(text, "OnCalendar=");
        if (run.definition.empty()) continue;  // not one of ours
        runs.push_back(run);
    }
    std::sort(runs.begin(), runs.end(),
              [](const ScheduledRun& a, const ScheduledRun& b) { return a.unitName < b.unitName; });
    bool reachable = !runs.empty() && UserManagerReachable();
    std::string stamps = UserFolder("XDG_DATA_HOME", ".local/share") + "/systemd/timers/stamp-";
    for (ScheduledRun& run : runs) {
        std::string timer = run.unitName + ".timer";
        if (reachable) {
            run.nextRun = TimerProperty(timer, "NextElapseUSecRealtime");
            run.lastRun = TimerProperty(timer, "LastTriggerUSec");
        }
        if (run.nextRun.empty()) {
            CalendarCheck check = CheckCalendarExpression(run.expression, 1);
            if (check.ok) run.nextRun = check.nextTimes[0];
        }
        // A persistent timer's stamp file holds its last run, also while no manager runs.
        struct stat stamp;
        if (run.lastRun.empty() && stat((stamps + timer).c_str(), &stamp) == 0)
            run.lastRun = StampTimeText(stamp.st_mtime);
    }
    return runs;
}
