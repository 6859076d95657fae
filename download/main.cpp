// ZYMB10DownloadFile: logs on to the Corvantix server, lists a customer's files and
// prints the list as a report or downloads one file by pattern and generation.
#include "frame/password.h"
#include "frame/program_context.h"
#include "frame/server_address.h"

namespace {
const char kLegalNotice[] = "Copyright (c) Corvantix. All rights reserved.";
ProgramContext context;

// The option variables, their defaults set by main before anything reads them.
const char* customerId;
const char* fileFilter;
const char* generationIndexText;
const char* outputFileName;
const char* serverText;
int32_t stripPath;
int32_t listMode;
ServerAddress server;

OptionEntry options[] = {
    {.letter = 'C', .description = "Customer-ID", .value = &customerId, .flags = OPT_REQUIRED},
    {.letter = 'f', .description = "File Name Filter", .value = &fileFilter, .flags = OPT_REQUIRED},
    {.letter = 'i', .description = "Generation index", .value = &generationIndexText},
    {.letter = 'o', .description = "Output File Name", .value = &outputFileName},
    {.letter = 'p', .description = "Strip Path", .target = &stripPath},
    {.letter = 'l', .description = "List Files", .target = &listMode},
    {.letter = 'S',
     .description = "Server",
     .value = &serverText,
     .flags = OPT_SERVER,
     .target = &server},
    {.letter = 0},
};
}  // namespace

int main(int argc, char** argv) {
    customerId = "";
    fileFilter = "";
    generationIndexText = "1";
    outputFileName = "";
    serverText = "batch@127.0.0.1:5000";
    stripPath = 0;
    listMode = 0;

    InitProgramContext(&context);
    context.options = options;
    context.argc = argc;
    context.argv = argv;
    context.SetIdentity(&context, __DATE__, __TIME__, kLegalNotice, "ZYMB10DownloadFile", "ZBT",
                        "this program will download a file");
    InitServerAddress(&server, "batch", "", "127.0.0.1", "5000");
    if (context.Begin(&context, nullptr) == 0 || context.errorCount != 0)
        context.Complete(&context, 1);

    char password[PASSWORD_BUFFER_SIZE];
    if (context.GetPassword(&context, server.user, server.passwordSpecification, "zymb",
                            password) == nullptr)
        context.Complete(&context, 1);

    // Connect, logon, the file list and the two modes follow here.
    context.Complete(&context, 0);
}
