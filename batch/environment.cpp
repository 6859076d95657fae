// The child's environment table: our own environment plus the definition's additions,
// written to the log and turned into the block the child starts with.
#include <cstdlib>
#include <cstring>

#include "batch/process_runner.h"

extern char** environ;

int Runner_ClearEnvironment(ProcessRunner* runner) {
    runner->environment.clear();
    return 1;
}

int Runner_PutEnvironment(ProcessRunner* runner, const char* text) {
    const char* equals = text != nullptr ? strchr(text, '=') : nullptr;
    if (equals == nullptr) return 0;
    runner->environment[std::string(text, equals)] = equals + 1;
    return 1;
}

int Runner_ImportEnvironment(ProcessRunner* runner) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        Runner_PutEnvironment(runner, *entry);
    }
    return 1;
}

int Runner_DumpEnvironment(ProcessRunner* runner, FILE* stream) {
    if (stream == nullptr) return 1;
    for (const auto& [name, value] : runner->environment) {
        fprintf(stream, "%s=%s\n", name.c_str(), value.c_str());
    }
    return 1;
}

char* Runner_BuildEnvironmentBlock(ProcessRunner* runner) {
    size_t size = 1;
    for (const auto& [name, value] : runner->environment) size += name.size() + value.size() + 2;
    char* block = static_cast<char*>(calloc(size, 1));
    if (block == nullptr) return nullptr;
    char* at = block;
    for (const auto& [name, value] : runner->environment) {
        memcpy(at, name.data(), name.size());
        at += name.size();
        *at++ = '=';
        memcpy(at, value.data(), value.size());
        at += value.size() + 1;  // the zero byte is already there
    }
    return block;
}
