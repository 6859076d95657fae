// List-File and Download-File: their request records and the checks of their replies.
#include "api/file_transfer.h"

#include <cstring>

#include "api/codes.h"
#include "api/exchange.h"

namespace {

constexpr uint32_t CUSTOMER_ID_SIZE = 4;

ZYMB10APIResponse* SendFunction(ZYMB10APISession* session, uint8_t function, const void* payload,
                                uint32_t length) {
    ZYMB10APIRequest request{};
    request.TotalLength = 32 + length;
    request.Function = function;
    request.Length = length;
    request.Payload = payload;
    return ZYMB10API_Send(session, &request);
}

}  // namespace

FileListReply ZYMB10API_ListFiles(ZYMB10APISession* session, const char* customerId) {
    uint8_t customer[CUSTOMER_ID_SIZE] = {};
    memcpy(customer, customerId, strnlen(customerId, sizeof customer));
    FileListReply reply{};
    reply.response = SendFunction(session, FUNCTION_LIST_FILE, customer, sizeof customer);
    const ZYMB10APIResponse* response = reply.response;
    reply.rc = response != nullptr ? response->RC : RC_RECEIVE_FAILED;
    // Items of another size cannot be read as file list items.
    if (reply.rc == RC_OK && response->Count != 0 &&
        (response->Length != FILE_LIST_ITEM_SIZE ||
         static_cast<uint64_t>(response->Count) * FILE_LIST_ITEM_SIZE > response->PayloadLength))
        reply.rc = RC_RECEIVE_FAILED;
    if (reply.rc == RC_OK) {
        reply.count = response->Count;
        reply.items = response->Payload;
    }
    return reply;
}

SectionReply ZYMB10API_ReadSection(ZYMB10APIResponse* response) {
    SectionReply reply{};
    reply.response = response;
    reply.rc = response != nullptr ? response->RC : RC_RECEIVE_FAILED;
    reply.connectionLost = response == nullptr || response->TotalLength == 0;
    // A section whose length field points past the payload is as good as no answer.
    if (reply.rc == RC_OK) {
        uint32_t length = 0;
        if (response->PayloadLength < SECTION_DATA_OFFSET ||
            (length = LoadLittleEndian32(response->Payload + SECTION_DATA_LENGTH_OFFSET)) >
                response->PayloadLength - SECTION_DATA_OFFSET) {
            reply.rc = RC_RECEIVE_FAILED;
        } else {
            reply.data = response->Payload + SECTION_DATA_OFFSET;
            reply.length = length;
        }
    }
    return reply;
}

SectionReply ZYMB10API_FetchSection(ZYMB10APISession* session, const FileListItem& item,
                                    uint32_t section) {
    uint8_t request[SECTION_REQUEST_SIZE];
    item.SectionRequest(request, section);
    return ZYMB10API_ReadSection(
        SendFunction(session, FUNCTION_DOWNLOAD_FILE, request, sizeof request));
}
