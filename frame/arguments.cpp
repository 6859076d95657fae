// Argument intake (placeholder until the command-line and CGI readers land).
#include "frame/arguments.h"

int ReadArguments(ProgramContext* context) {
    return context->options == nullptr ? 0 : 1;
}

void TakeOptionValue(ProgramContext*, OptionEntry*, const char*) {}
