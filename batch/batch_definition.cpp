// Reading and writing .cvbatch files, and copying a definition's texts into its tree.
#include "batch/batch_definition.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/whole_file.h"

namespace {

constexpr const char* kPaths[5] = {"options.program", "options.arguments",
                                   "options.working_directory", "options.environment",
                                   "options.stdin"};
constexpr const char* kNames[5] = {"program", "arguments", "working_directory", "environment",
                                   "stdin"};

std::optional<std::string> LookUpText(const config_t* tree, const char* path) {
    const config_setting_t* setting = config_lookup(tree, path);
    if (setting == nullptr || config_setting_type(setting) != CONFIG_TYPE_STRING) {
        return std::nullopt;
    }
    const char* text = config_setting_get_string(setting);
    return std::string(text != nullptr ? text : "");
}

}  // namespace

BatchDefinition::BatchDefinition() {
    config_init(&tree_);
    config_setting_t* options =
        config_setting_add(config_root_setting(&tree_), "options", CONFIG_TYPE_GROUP);
    for (const char* name : kNames) {
        config_setting_set_string(config_setting_add(options, name, CONFIG_TYPE_STRING), "");
    }
}

BatchDefinition::~BatchDefinition() {
    config_destroy(&tree_);
}

BatchReadResult BatchDefinition::Read(const char* path, bool regularFileOnly) {
    BatchReadResult result;
    // Opened here rather than by libconfig so that a file that cannot be opened, or a
    // folder, fails before the reader clears the tree.
    int fd = open(path, O_RDONLY | O_CLOEXEC | (regularFileOnly ? O_NONBLOCK : 0));
    FILE* source = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (source == nullptr) {
        result.errorText = strerror(errno);
        if (fd >= 0) close(fd);
        return result;
    }
    struct stat info;
    int refused = fstat(fd, &info) != 0        ? errno
                  : S_ISDIR(info.st_mode)      ? EISDIR
                  : !regularFileOnly           ? 0
                  : !S_ISREG(info.st_mode)     ? EINVAL
                  : fcntl(fd, F_SETFL, 0) != 0 ? errno
                                               : 0;
    if (refused != 0) {
        result.errorText = refused == EINVAL ? "not a regular file" : strerror(refused);
        fclose(source);
        return result;
    }
    // Read whole, and at most the limit, before parsing: a huge file (or a FIFO that
    // never ends) would keep the parser busy for hours.
    std::string content(BATCH_FILE_LIMIT + 1, '\0');
    size_t size = fread(content.data(), 1, content.size(), source);
    bool failed = ferror(source) != 0;
    int error = errno;
    fclose(source);
    if (failed) {
        result.errorText = strerror(error);
        return result;
    }
    if (size > BATCH_FILE_LIMIT) {
        result.errorText = "The batch file is larger than 1 MiB";
        return result;
    }
    content.resize(size);
    int parsed = config_read_string(&tree_, content.c_str());
    if (parsed != CONFIG_TRUE) {
        const char* text = config_error_text(&tree_);
        result.errorText = text != nullptr ? text : "unreadable file";
        result.errorLine = config_error_line(&tree_);
        return result;
    }
    result.ok = true;
    result.program = LookUpText(&tree_, kPaths[0]);
    result.arguments = LookUpText(&tree_, kPaths[1]);
    result.workingDirectory = LookUpText(&tree_, kPaths[2]);
    result.environment = LookUpText(&tree_, kPaths[3]);
    result.stdinFile = LookUpText(&tree_, kPaths[4]);
    return result;
}

void BatchDefinition::CopyIntoTree(const BatchFields& fields) {
    const std::string* texts[5] = {&fields.program, &fields.arguments, &fields.workingDirectory,
                                   &fields.environment, &fields.stdinFile};
    for (int i = 0; i < 5; ++i) {
        config_setting_t* setting = config_lookup(&tree_, kPaths[i]);
        // The setter refuses a setting of another type and leaves it as it is.
        if (setting != nullptr) config_setting_set_string(setting, texts[i]->c_str());
    }
}

bool BatchDefinition::Write(const char* path, std::string* reason) const {
    // Through a link to the file and with the file's own mode: a definition kept private
    // (0600) or linked from elsewhere stays so after a save.
    const int error = Platform_ReplaceFile(path, [this](int fd) {
        const int own = dup(fd);
        FILE* file = own >= 0 ? fdopen(own, "w") : nullptr;
        if (file == nullptr) {
            if (own >= 0) close(own);
            return false;
        }
        config_write(&tree_, file);
        int failure = fflush(file) != 0 || ferror(file) ? (errno != 0 ? errno : EIO) : 0;
        if (fclose(file) != 0 && failure == 0) failure = errno;
        errno = failure;
        return failure == 0;
    });
    if (error != 0) {
        if (reason != nullptr) *reason = strerror(error);
        return false;
    }
    return true;
}

void BatchDefinition::WriteToLog(FILE* stream) const {
    if (stream != nullptr) config_write(&tree_, stream);
}
