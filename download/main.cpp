// ZYMB10DownloadFile: logs on to the Corvantix server, lists a customer's files and
// prints the list as a report or downloads one file by pattern and generation.
#include "frame/program_context.h"

namespace {
const char kLegalNotice[] = "Copyright (c) Corvantix. All rights reserved.";
ProgramContext context;
}  // namespace

int main(int argc, char** argv) {
    InitProgramContext(&context);
    context.argc = argc;
    context.argv = argv;
    context.SetIdentity(&context, __DATE__, __TIME__, kLegalNotice, "ZYMB10DownloadFile", "ZBT",
                        "this program will download a file");
    if (context.Begin(&context, nullptr) == 0 || context.errorCount != 0)
        context.Complete(&context, 1);
    context.Complete(&context, 0);
}
