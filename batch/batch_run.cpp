// The run command: from a definition's texts to a started runner, with the run's first
// sections in the batch log.
#include "batch/batch_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string Expanded(ProcessRunner* runner, const std::string& text) {
    char output[EXPAND_OUTPUT_SIZE];
    runner->variables.Expand(&runner->variables, text.c_str(), output, sizeof output, 0);
    return output;
}

}  // namespace

RunPreparation PrepareAndStartRun(ProcessRunner* runner, BatchDefinition* definition,
                                  const BatchFields& fields, BatchLog* log) {
    if (fields.program.empty()) return {RunPreparation::EMPTY_PROGRAM, ""};

    int input = -1;
    if (!fields.stdinFile.empty()) {
        std::string path = Expanded(runner, fields.stdinFile);
        input = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info;
        int error = input < 0 ? errno : 0;
        if (input >= 0 && fstat(input, &info) == 0 && S_ISDIR(info.st_mode)) error = EISDIR;
        if (error != 0) {
            if (input >= 0) close(input);
            return {RunPreparation::STDIN_UNOPENED, strerror(error)};
        }
    }
    runner->inputSource = input;
    runner->workingDirectory =
        fields.workingDirectory.empty() ? "" : Expanded(runner, fields.workingDirectory);
    std::string arguments = Expanded(runner, fields.arguments);
    char commandLine[sizeof runner->commandLine];
    snprintf(commandLine, sizeof commandLine, "%s %s", fields.program.c_str(), arguments.c_str());

    log->Header("Starting Program");
    definition->CopyIntoTree(fields);
    definition->WriteToLog(log->Stream());

    runner->ClearEnvironment(runner);
    runner->ImportEnvironment(runner);
    // NAME=VALUE pieces, taken as written; a piece without "=" is ignored.
    size_t start = 0;
    while (start <= fields.environment.size()) {
        size_t end = fields.environment.find(';', start);
        if (end == std::string::npos) end = fields.environment.size();
        if (end > start) {
            runner->PutEnvironment(runner, fields.environment.substr(start, end - start).c_str());
        }
        start = end + 1;
    }
    log->Header("Variables");
    runner->DumpEnvironment(runner, log->Stream());
    log->Flush();

    if (!runner->Start(runner, commandLine)) {
        return {RunPreparation::START_FAILED, runner->createErrorText};
    }
    return {RunPreparation::STARTED, ""};
}
