// ZYMB10DownloadFile: logs on to the Corvantix server, lists a customer's files and
// prints the list as a report or downloads one file by pattern and generation.
#include <openssl/crypto.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "api/codes.h"
#include "api/connect.h"
#include "api/exchange.h"
#include "api/file_list.h"
#include "api/file_transfer.h"
#include "api/logon.h"
#include "api/session.h"
#include "api/transport.h"
#include "download/download_mode.h"
#include "download/list_mode.h"
#include "download/unpack.h"
#include "frame/cgi_server_policy.h"
#include "frame/password.h"
#include "frame/program_context.h"
#include "frame/program_information.h"
#include "frame/proxy_setting.h"
#include "frame/server_address.h"

namespace {
const char kLegalNotice[] = "Copyright (c) Corvantix. All rights reserved.";
const char kProgramName[] = "ZYMB10DownloadFile";
const char kDescription[] = "this program will download a file";
const char kDefaultHost[] = "127.0.0.1";
const char kDefaultPort[] = "5000";
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
// The leading decimal integer of the text, 0 when there is none.
int32_t GenerationIndex(const char* text) {
    long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}
// Under a web server every run must answer the web client, or the server reports an
// internal error even for a download that succeeded. Runs that print no report answer
// with their outcome in one line; the details are in the log.
void AnswerWebClient(int status) {
    if ((context.flags & CTX_CGI) == 0) return;
    printf("Content-Type: text/plain;\n\r\n%s ended with RC=%d (%s)\n", context.programName, status,
           status == 0 ? "Success" : "Failure");
    fflush(stdout);
}

// A whole number from the environment (at most 9 digits), or fallback when the variable
// is not set; a value that is not such a number is reported and gives fallback.
uint32_t NumberVariable(const char* name, uint32_t fallback, const char* meaning) {
    const char* text = getenv(name);
    if (text == nullptr) return fallback;
    size_t length = strlen(text);
    if (length == 0 || length > 9 || strspn(text, "0123456789") != length) {
        Message(&context, MSG_WARNING, 0, "%s=%s is not a number of %s; %u is used", name, text,
                meaning, fallback);
        return fallback;
    }
    return static_cast<uint32_t>(strtoul(text, nullptr, 10));
}

[[noreturn]] void Fail(int status) {
    AnswerWebClient(status);
    Complete(&context, status);
}
}  // namespace

int main(int argc, char** argv) {
    const int answered = AnswerInformationRequest(argc, argv,
                                                  {.programName = kProgramName,
                                                   .description = kDescription,
                                                   .buildDate = __DATE__,
                                                   .buildTime = __TIME__,
                                                   .options = options});
    if (answered != INFORMATION_NONE) return answered;
    customerId = "";
    fileFilter = "";
    generationIndexText = "1";
    outputFileName = "";
    serverText = "batch@127.0.0.1:5000";
    stripPath = 0;
    listMode = 0;

    InitProgramContext(&context);
    // An interrupted download leaves no half-unpacked hidden file beside its destination
    // and no copy of the data in the temporary folder.
    context.OnInterrupt = [](ProgramContext* interrupted) {
        RemovePartialFiles();
        RemoveTemporaryDownload(interrupted);
    };
    context.options = options;
    context.argc = argc;
    context.argv = argv;
    SetIdentity(&context, __DATE__, __TIME__, kLegalNotice, kProgramName, "ZBT", kDescription);
    InitServerAddress(&server, "batch", "", kDefaultHost, kDefaultPort);
    // An option the program does not know is a mistake in the call, as on the command line.
    if (Begin(&context, nullptr) == 0 || context.errorCount != 0)
        Fail((context.flags & CTX_USAGE_ERROR) != 0 ? 2 : 1);
    if (!CheckCgiServer(&context, &server, kDefaultHost, kDefaultPort)) Fail(1);

    char password[PASSWORD_BUFFER_SIZE];
    if (GetPassword(&context, server.user.c_str(), server.passwordSource.c_str(), "zymb",
                    password) == nullptr)
        Fail(1);

    int32_t generationIndex = GenerationIndex(generationIndexText);

    ZYMB10APISession session;
    ZYMB10API_Init(&session);
    session.messageSink = ContextSink(&context);
    session.receiveTimeout = NumberVariable("ZYMBTIMEOUT", API_RECEIVE_TIMEOUT, "seconds");
    const uint32_t retries = NumberVariable("ZYMBRETRY", 0, "retries");
    ProxySetting proxy;
    const int proxySet = ReadProxySetting(&context, &proxy);
    if (proxySet < 0) Fail(1);
    if (proxySet != 0) {
        session.proxy = ZYMB10APIProxy{
            .host = proxy.address.host.c_str(),
            .port = proxy.address.port.c_str(),
            .user = proxy.address.user.c_str(),
            .password = proxy.passwordFound != 0 ? proxy.password : nullptr,
        };
    }
    if (ZYMB10API_Connect(&session, server.host.c_str(), server.port.c_str()) != 0) {
        ZYMB10API_Term(&session);
        Fail(1);
    }
    int logon =
        ZYMB10API_Logon(&session, server.user.c_str(), password, PROGRAM_ID_DOWNLOAD, nullptr);
    // Only a download that may log on again keeps the password until it ends.
    if (retries == 0) OPENSSL_cleanse(password, sizeof password);
    if (logon != 0) {
        OPENSSL_cleanse(password, sizeof password);
        ZYMB10API_Term(&session);
        Fail(1);
    }
    Message(&context, MSG_INFO, 0, "Listing Files");
    FileListReply list = ZYMB10API_ListFiles(&session, customerId);

    // From here the program ends directly: the outcome is in the log already.
    int status;
    bool reportWritten = false;
    if (list.rc != 0) {
        char text[CODE_TEXT_BUFFER_SIZE];
        Message(&context, MSG_INFO, 0, "File list failed: %s",
                ZYMB10API_ResultMessage(list.rc, text));
        status = 1;
    } else if (listMode != 0) {
        status = ListFiles(&context, list.count, list.items);
        reportWritten = true;
    } else {
        DownloadRequest download{.filter = fileFilter,
                                 .outputName = outputFileName,
                                 .stripPath = stripPath,
                                 .generationIndex = generationIndex,
                                 .retries = retries,
                                 .reconnect = [&session, &password] {
                                     XNPTCPClient_Close(&session);
                                     return ZYMB10API_Connect(&session, server.host.c_str(),
                                                              server.port.c_str()) == 0 &&
                                            ZYMB10API_Logon(&session, server.user.c_str(), password,
                                                            PROGRAM_ID_DOWNLOAD, nullptr) == 0;
                                 }};
        status = DownloadFile(&context, &session, list.count, list.items, download) != 0 ? 1 : 0;
    }
    ZYMB10API_FreeResponse(list.response);
    ZYMB10API_Term(&session);
    OPENSSL_cleanse(password, sizeof password);
    OPENSSL_cleanse(proxy.password, sizeof proxy.password);
    if (!reportWritten) AnswerWebClient(status);
    exit(status);
}
