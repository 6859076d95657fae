// The run history file: appending under a lock, bounding, and reading it back.
#include "batch/run_history.h"

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "batch/user_folders.h"
#include "platform/io.h"
#include "platform/unique_fd.h"
#include "platform/whole_file.h"

namespace {

struct JsonDeleter {
    void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDeleter>;

std::string SystemReason(const std::string& path) {
    return path + ": " + strerror(errno);
}

bool ReadWhole(int fd, std::string* text) {
    char buffer[64 * 1024];
    for (;;) {
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return false;
        if (count == 0) return true;
        text->append(buffer, static_cast<size_t>(count));
    }
}

// Splits text into its lines; a last piece without a line feed (a write cut short by a
// crash) is a line too.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Keeps the newest records when the file holds more than limit: a tenth fewer than the
// limit, so a full history is rewritten once in a thousand appends, not on each one. Runs
// under the exclusive lock; the file is replaced whole by a rename, so a reader sees the old
// file or the new one.
bool TrimHistory(const std::string& path, int fd, size_t limit, std::string* reason) {
    struct stat status;
    if (fstat(fd, &status) != 0) {
        *reason = SystemReason(path);
        return false;
    }
    // No record is shorter than an empty one: most appends need not read the file.
    size_t shortest = RunRecordJson(RunRecord{}).size() + 1;
    if (static_cast<size_t>(status.st_size) / shortest <= limit) return true;
    UniqueFd reader(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    std::string text;
    if (reader.Get() < 0 || !ReadWhole(reader.Get(), &text)) {
        *reason = SystemReason(path);
        return false;
    }
    std::vector<std::string> lines = Lines(text);
    if (lines.size() <= limit) return true;
    size_t keep = limit - limit / 10;
    std::string kept;
    for (size_t i = lines.size() - keep; i < lines.size(); ++i) kept += lines[i] + "\n";
    if (int error = Platform_ReplaceFile(path.c_str(), kept.data(), kept.size()); error != 0) {
        errno = error;
        *reason = SystemReason(path);
        return false;
    }
    return true;
}

}  // namespace

std::string IsoTimeText(time_t when) {
    struct tm local;
    char text[64];
    if (localtime_r(&when, &local) == nullptr ||
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0)
        return std::string();
    long offset = local.tm_gmtoff;
    char sign = offset < 0 ? '-' : '+';
    offset = labs(offset);
    char zone[16];
    snprintf(zone, sizeof zone, "%c%02ld:%02ld", sign, offset / 3600, offset % 3600 / 60);
    return std::string(text) + zone;
}

bool ParseIsoTime(const std::string& text, time_t* when) {
    struct tm parts = {};
    int consumed = 0;
    if (sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &parts.tm_year, &parts.tm_mon,
               &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6 ||
        consumed != 19)
        return false;
    long offset = 0;
    std::string zone = text.substr(19);
    if (zone != "Z") {
        int hours = 0, minutes = 0, length = 0;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') ||
            sscanf(zone.c_str() + 1, "%2d:%2d%n", &hours, &minutes, &length) != 2 || length != 5)
            return false;
        offset = (hours * 3600L + minutes * 60L) * (zone[0] == '-' ? -1 : 1);
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    time_t utc = timegm(&parts);
    if (utc == static_cast<time_t>(-1)) return false;
    *when = utc - offset;
    return true;
}

std::string RunRecordJson(const RunRecord& record) {
    JsonTree root(cJSON_CreateObject());
    cJSON* json = root.get();
    cJSON_AddStringToObject(json, "definition", record.definitionPath.c_str());
    cJSON_AddStringToObject(json, "program", record.program.c_str());
    cJSON_AddStringToObject(json, "arguments", record.arguments.c_str());
    cJSON_AddStringToObject(json, "start", IsoTimeText(record.startTime).c_str());
    cJSON_AddStringToObject(json, "end", IsoTimeText(record.endTime).c_str());
    cJSON_AddNumberToObject(json, "status", record.exitStatus);
    cJSON_AddBoolToObject(json, "cancelled", record.cancelled);
    cJSON_AddNumberToObject(json, "stdout_lines", static_cast<double>(record.stdoutLines));
    cJSON_AddNumberToObject(json, "stderr_lines", static_cast<double>(record.stderrLines));
    cJSON_AddStringToObject(json, "log", record.logPath.c_str());
    std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_PrintUnformatted(json), cJSON_free);
    return text ? std::string(text.get()) : std::string();
}

bool ParseRunRecord(const std::string& line, RunRecord* record) {
    JsonTree root(cJSON_ParseWithLength(line.data(), line.size()));
    if (!root || !cJSON_IsObject(root.get())) return false;
    auto text = [&root](const char* name, std::string* out) {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(root.get(), name);
        if (!cJSON_IsString(item)) return false;
        *out = item->valuestring;
        return true;
    };
    auto count = [&root](const char* name, double* out) {
        const cJSON* item = cJSON_GetObjectItemCaseSensitive(root.get(), name);
        if (!cJSON_IsNumber(item) || !std::isfinite(item->valuedouble)) return false;
        *out = item->valuedouble;
        return true;
    };
    RunRecord parsed;
    std::string start, end;
    double status = 0, stdoutLines = 0, stderrLines = 0;
    const cJSON* cancelled = cJSON_GetObjectItemCaseSensitive(root.get(), "cancelled");
    if (!text("definition", &parsed.definitionPath) || !text("program", &parsed.program) ||
        !text("arguments", &parsed.arguments) || !text("start", &start) || !text("end", &end) ||
        !text("log", &parsed.logPath) || !count("status", &status) ||
        !count("stdout_lines", &stdoutLines) || !count("stderr_lines", &stderrLines) ||
        !cJSON_IsBool(cancelled) || !ParseIsoTime(start, &parsed.startTime) ||
        !ParseIsoTime(end, &parsed.endTime) || stdoutLines < 0 || stderrLines < 0 ||
        std::fabs(status) > 1e9)
        return false;
    parsed.exitStatus = static_cast<int>(status);
    parsed.cancelled = cJSON_IsTrue(cancelled);
    parsed.stdoutLines = static_cast<uint64_t>(stdoutLines);
    parsed.stderrLines = static_cast<uint64_t>(stderrLines);
    *record = std::move(parsed);
    return true;
}

std::string RunHistoryPath() {
    std::string folder = UserFolder("XDG_STATE_HOME", ".local/state");
    return folder.empty() ? std::string() : folder + "/zymb/history.jsonl";
}

bool AppendRunRecord(const RunRecord& record, std::string* reason) {
    std::string path = RunHistoryPath();
    if (path.empty()) {
        *reason = "no folder for the run history (neither XDG_STATE_HOME nor HOME is set)";
        return false;
    }
    return AppendRunRecordTo(path, record, kRunHistoryLimit, reason);
}

bool AppendRunRecordTo(const std::string& path, const RunRecord& record, size_t limit,
                       std::string* reason) {
    std::string line = RunRecordJson(record);
    if (line.empty()) {
        *reason = "the run record could not be made";
        return false;
    }
    line += '\n';
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash), reason))
        return false;
    // The lock is on a file of its own, never replaced, so the history file itself can be
    // replaced when it is trimmed.
    std::string lockPath = path + ".lock";
    UniqueFd lock(open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (lock.Get() < 0) {
        *reason = SystemReason(lockPath);
        return false;
    }
    while (flock(lock.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            *reason = SystemReason(lockPath);
            return false;
        }
    }
    UniqueFd file(open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    struct stat before;
    if (file.Get() < 0 || fstat(file.Get(), &before) != 0) {
        *reason = SystemReason(path);
        return false;
    }
    // A line cut short by a crash or a full disk earlier must not swallow this record: it
    // starts on a line of its own.
    char lastByte = '\n';
    if (before.st_size > 0 && pread(file.Get(), &lastByte, 1, before.st_size - 1) == 1 &&
        lastByte != '\n')
        line.insert(line.begin(), '\n');
    if (!WriteAll(file.Get(), line.data(), line.size())) {
        // A full disk takes part of the line: take it back, so the next record does not
        // land on a damaged line.
        *reason = SystemReason(path);
        if (ftruncate(file.Get(), before.st_size) != 0)
            *reason += " (a part of the record is left; reading skips it)";
        return false;
    }
    // The record is in; a history that cannot be trimmed now is trimmed by a later append.
    std::string trimReason;
    TrimHistory(path, file.Get(), limit, &trimReason);
    return true;
}

RunHistory ReadRunHistory(const std::string& path, size_t last) {
    RunHistory history;
    // A shared lock keeps a record that is being appended out of what is read; without a
    // lock file (no history yet, a read-only folder) the read goes on without one.
    UniqueFd lock(open((path + ".lock").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (lock.Get() >= 0)
        while (flock(lock.Get(), LOCK_SH) != 0 && errno == EINTR) {
        }
    UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        history.ok = errno == ENOENT;
        if (!history.ok) history.reason = SystemReason(path);
        return history;
    }
    std::string text;
    if (!ReadWhole(file.Get(), &text)) {
        history.reason = SystemReason(path);
        return history;
    }
    std::vector<std::string> lines = Lines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        RunRecord record;
        if (lines[i].empty()) continue;
        if (!ParseRunRecord(lines[i], &record)) {
            history.warnings.push_back(path + ":" + std::to_string(i + 1) +
                                       ": damaged run record skipped");
            continue;
        }
        history.records.push_back(std::move(record));
    }
    if (last != 0 && history.records.size() > last)
        history.records.erase(history.records.begin(),
                              history.records.end() - static_cast<ptrdiff_t>(last));
    history.ok = true;
    return history;
}
