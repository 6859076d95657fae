// ZYMB10DownloadFile: logs on to the Corvantix server, lists a customer's files and
// prints the list as a report or downloads one file by pattern and generation.
#include <openssl/crypto.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "api/codes.h"
#include "api/exchange.h"
#include "api/file_list.h"
#include "api/session.h"
#include "download/download_mode.h"
#include "download/list_mode.h"
#include "download/unpack.h"
#include "frame/cgi_server_policy.h"
#include "frame/password.h"
#include "frame/program_context.h"
#include "frame/program_information.h"
#include "frame/proxy_setting.h"
#include "frame/server_address.h"
#include "zymb_version.h"

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
        context.Message(&context, MSG_WARNING, 0, "%s=%s is not a number of %s; %u is used", name,
                        text, meaning, fallback);
        return fallback;
    }
    return static_cast<uint32_t>(strtoul(text, nullptr, 10));
}

[[noreturn]] void Fail(int status) {
    AnswerWebClient(status);
    context.Complete(&context, status);
}
}  // namespace

int main(int argc, char** argv) {
    if (AnswerInformationRequest(argc, argv,
                                 {.programName = kProgramName,
                                  .description = kDescription,
                                  .version = ZYMB_VERSION,
                                  .buildDate = __DATE__,
                                  .buildTime = __TIME__,
                                  .options = options}) != 0)
        return 0;
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
    context.SetIdentity(&context, __DATE__, __TIME__, kLegalNotice, kProgramName, "ZBT",
                        kDescription);
    InitServerAddress(&server, "batch", "", kDefaultHost, kDefaultPort);
    if (context.Begin(&context, nullptr) == 0 || context.errorCount != 0) Fail(1);
    if (!CheckCgiServer(&context, &server, kDefaultHost, kDefaultPort)) Fail(1);

    char password[PASSWORD_BUFFER_SIZE];
    if (context.GetPassword(&context, server.user.c_str(), server.passwordSource.c_str(), "zymb",
                            password) == nullptr)
        Fail(1);

    int32_t generationIndex = GenerationIndex(generationIndexText);

    ZYMB10APISession session;
    ZYMB10API_Init(&session);
    session.messageSink = ContextSink(&context);
    session.receiveTimeout = NumberVariable("ZYMBTIMEOUT", API_RECEIVE_TIMEOUT, "seconds");
    const uint32_t retries = NumberVariable("ZYMBRETRY", 0, "retries");
    ProxySetting proxy;
    if (ReadProxySetting(&context, &proxy) != 0) {
        session.proxy = ZYMB10APIProxy{
            .host = proxy.address.host.c_str(),
            .port = proxy.address.port.c_str(),
            .user = proxy.address.user.c_str(),
            .password = proxy.passwordFound != 0 ? proxy.password : nullptr,
        };
    }
    if (session.Connect(&session, server.host.c_str(), server.port.c_str()) != 0) {
        session.Term(&session);
        Fail(1);
    }
    int logon = session.Logon(&session, server.user.c_str(), password, 56, nullptr);
    // Only a download that may log on again keeps the password until it ends.
    if (retries == 0) OPENSSL_cleanse(password, sizeof password);
    if (logon != 0) {
        OPENSSL_cleanse(password, sizeof password);
        session.Term(&session);
        Fail(1);
    }
    context.Message(&context, MSG_INFO, 0, "Listing Files");
    uint8_t customer[4] = {};
    memcpy(customer, customerId, strnlen(customerId, sizeof customer));
    ZYMB10APIRequest request{};
    request.TotalLength = 32 + sizeof customer;
    request.Function = FUNCTION_LIST_FILE;
    request.Length = sizeof customer;
    request.Payload = customer;
    ZYMB10APIResponse* response = session.Send(&session, &request);

    // From here the program ends directly: the outcome is in the log already.
    int status;
    bool reportWritten = false;
    unsigned rc = response != nullptr ? response->RC : RC_RECEIVE_FAILED;
    // Items of another size cannot be read as file list items.
    if (rc == 0 && response->Count != 0 &&
        (response->Length != FILE_LIST_ITEM_SIZE ||
         static_cast<uint64_t>(response->Count) * FILE_LIST_ITEM_SIZE > response->PayloadLength))
        rc = RC_RECEIVE_FAILED;
    if (rc != 0) {
        char text[CODE_TEXT_BUFFER_SIZE];
        context.Message(&context, MSG_INFO, 0, "File list failed: %s",
                        ZYMB10API_ResultMessage(rc, text));
        status = 1;
    } else if (listMode != 0) {
        status = ListFiles(&context, response->Count, response->Payload);
        reportWritten = true;
    } else {
        DownloadRequest download{
            .filter = fileFilter,
            .outputName = outputFileName,
            .stripPath = stripPath,
            .generationIndex = generationIndex,
            .retries = retries,
            .reconnect = [&session, &password] {
                session.Close(&session);
                return session.Connect(&session, server.host.c_str(), server.port.c_str()) == 0 &&
                       session.Logon(&session, server.user.c_str(), password, 56, nullptr) == 0;
            }};
        status = DownloadFile(&context, &session, response->Count, response->Payload, download) != 0
                     ? 1
                     : 0;
    }
    session.FreeResponse(response);
    session.Term(&session);
    OPENSSL_cleanse(password, sizeof password);
    OPENSSL_cleanse(proxy.password, sizeof proxy.password);
    if (!reportWritten) AnswerWebClient(status);
    exit(status);
}
