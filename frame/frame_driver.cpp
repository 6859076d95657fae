// A small command program for the frame's end-to-end tests: it runs the real start-up,
// banner and completion, and can wait for an interrupt, crash, or log sample messages.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "frame/program_context.h"

namespace {
ProgramContext context;
}

int main(int argc, char** argv) {
    InitProgramContext(&context);
    context.argc = argc;
    context.argv = argv;
    SetIdentity(&context, "Dec 29 2024", "12:00:00", "Copyright test", "FrameDriver", "TST",
                "frame test driver");
    const char* mode = argc > 1 ? argv[1] : "complete";
    const char* configPath = strcmp(mode, "config") == 0 && argc > 2 ? argv[2] : nullptr;
    if (Begin(&context, configPath != nullptr ? &configPath : nullptr) == 0) Complete(&context, 1);
    if (strcmp(mode, "wait") == 0) {
        Message(&context, MSG_INFO, 0, "Waiting");
        for (;;) pause();
    }
    if (strcmp(mode, "crash") == 0) {
        // A write to a read-only page: a real fault, not one the sanitizers intercept.
        void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        *static_cast<volatile int*>(page) = 1;
    }
    if (strcmp(mode, "messages") == 0) {
        for (int i = 2; i < argc; ++i) Message(&context, i % 5, 0, "%s", argv[i]);
        SetNotes(&context, "%s", "driver notes");
    }
    int status = strcmp(mode, "complete") == 0 && argc > 2 ? atoi(argv[2]) : 0;
    if (strcmp(mode, "messages") == 0) status = 1;
    Complete(&context, status);
}
