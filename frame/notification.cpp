// Posts the program-end message to a webhook with libcurl. A webhook that answers with
// an HTTP error status has not taken the message, so that counts as a failed send.
#include "frame/notification.h"

#include <cjson/cJSON.h>
#include <curl/curl.h>

#include <cstdlib>
#include <memory>

namespace {
struct JsonDeleter {
    void operator()(cJSON* json) const { cJSON_Delete(json); }
};
struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

size_t DiscardResponse(char*, size_t size, size_t count, void*) {
    return size * count;
}

void AddTextIfSet(cJSON* object, const char* name, const char* variable) {
    if (const char* value = getenv(variable); value != nullptr)
        cJSON_AddStringToObject(object, name, value);
}
}  // namespace

char* BuildNotificationBody(const ProgramContext* context, int status, unsigned minutes,
                            unsigned seconds) {
    std::unique_ptr<cJSON, JsonDeleter> body(cJSON_CreateObject());
    if (!body) return nullptr;
    AddTextIfSet(body.get(), "channel", "ZYMBSLACKCHANNEL");
    AddTextIfSet(body.get(), "username", "ZYMBSLACKUSER");
    AddTextIfSet(body.get(), "icon_url", "ZYMBSLACKICON");
    cJSON* attachments = cJSON_AddArrayToObject(body.get(), "attachments");
    cJSON* attachment = cJSON_CreateObject();
    cJSON_AddItemToArray(attachments, attachment);

    const char* outcome = status == 0 ? "Success" : "Failure";
    char text[1024];
    snprintf(text, sizeof text, "Corvantix *%s* (build %s)",
             context->programName != nullptr ? context->programName : "",
             context->buildDate != nullptr ? context->buildDate : "");
    cJSON_AddStringToObject(attachment, "pretext", text);
    if ((context->flags & CTX_STDERR_FILE) != 0)
        snprintf(text, sizeof text, "Ended with RC=*%u* (%s) File(%s)",
                 static_cast<unsigned>(status), outcome, context->stderrFileName);
    else
        snprintf(text, sizeof text, "Ended with RC=*%u* (%s)", static_cast<unsigned>(status),
                 outcome);
    cJSON_AddStringToObject(attachment, "text", text);
    if (status != 0) cJSON_AddStringToObject(attachment, "color", "#D00000");
    if (context->statusText[0] != 0)
        snprintf(text, sizeof text, "Elapsed time %u minutes and %u seconds. *%s*", minutes,
                 seconds, context->statusText);
    else
        snprintf(text, sizeof text, "Elapsed time %u minutes and %u seconds", minutes, seconds);
    cJSON_AddStringToObject(attachment, "footer", text);

    const char* notes = getenv("ZYMBSLACKNOTES");
    if (notes == nullptr && context->notesText[0] != 0) notes = context->notesText;
    if (notes != nullptr) {
        cJSON* fields = cJSON_AddArrayToObject(attachment, "fields");
        cJSON* field = cJSON_CreateObject();
        cJSON_AddItemToArray(fields, field);
        snprintf(text, sizeof text, "%s", notes);
        cJSON_AddStringToObject(field, "title", "Notes");
        cJSON_AddStringToObject(field, "value", text);
        cJSON_AddFalseToObject(field, "short");
    }
    return cJSON_Print(body.get());
}

void SendEndNotification(ProgramContext* context, int status, unsigned minutes, unsigned seconds) {
    if (status == 0 && getenv("ZYMBSLACKONERROR") != nullptr) {
        Message(context, MSG_INFO, 0, "No Slack message because RC=0");
        return;
    }
    const char* address = getenv("ZYMBSLACKURL");
    if (address == nullptr) return;
    Message(context, MSG_INFO, 0, "Sending program end message via Slack");
    curl_global_init(CURL_GLOBAL_ALL);
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) return;
    char* body = BuildNotificationBody(context, status, minutes, seconds);
    if (body == nullptr) return;
    curl_easy_setopt(curl.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_URL, address);
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, DiscardResponse);
    curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, NOTIFICATION_CONNECT_TIMEOUT);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, NOTIFICATION_TIMEOUT);
    CURLcode result = curl_easy_perform(curl.get());
    if (result != CURLE_OK)
        Message(context, MSG_ERROR, 0, "Slack send failed: %s", curl_easy_strerror(result));
    curl.reset();
    cJSON_free(body);
}
