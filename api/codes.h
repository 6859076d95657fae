// Function codes of requests and result codes of responses, and their texts.
// Both lookups are pure: no state, the same text for the same code every time.
#pragma once
#include <cstddef>
#include <cstdint>

// Smallest buffer the two copying lookups accept.
constexpr size_t CODE_TEXT_BUFFER_SIZE = 128;

// Function codes this client and the development server use.
constexpr uint8_t FUNCTION_LOGON = 33;
constexpr uint8_t FUNCTION_ID_SERVER = 36;
constexpr uint8_t FUNCTION_LIST_FILE = 101;
constexpr uint8_t FUNCTION_DOWNLOAD_FILE = 105;
constexpr uint8_t FUNCTION_LIST_SSO = 167;
constexpr uint8_t FUNCTION_INHERIT_ACCESS = 178;

// Result codes with a meaning of their own in the client or the development server.
constexpr uint8_t RC_OK = 0;
constexpr uint8_t RC_UNKNOWN_COMMAND = 1;
constexpr uint8_t RC_UNKNOWN_CUSTOMER = 2;
constexpr uint8_t RC_INVALID_ARGUMENT_LENGTH = 14;
constexpr uint8_t RC_RECEIVE_FAILED = 15;
constexpr uint8_t RC_INVALID_LOCATION_INDEX = 19;
constexpr uint8_t RC_AUTHORIZATION_FAILURE = 23;
constexpr uint8_t RC_CONNECTION_FAILED = 24;
constexpr uint8_t RC_SEND_FAILED = 25;
constexpr uint8_t RC_NO_LOGON = 28;
constexpr uint8_t RC_SECURITY_DENIED = 40;
constexpr uint8_t RC_UNKNOWN_USER = 49;
constexpr uint8_t RC_SINGLE_SIGN_ON_FAILED = 121;
constexpr uint8_t RC_UNKNOWN_CATALOG_ENTRY = 130;

// Copies the name of a function code (codes above 255 count as 255) into buffer, which
// holds at least CODE_TEXT_BUFFER_SIZE bytes, and returns buffer.
char* ZYMB10API_FunctionName(unsigned code, char* buffer);
// Copies the message of a result code (codes above 255 count as 255) into buffer, which
// holds at least CODE_TEXT_BUFFER_SIZE bytes, and returns buffer.
char* ZYMB10API_ResultMessage(unsigned code, char* buffer);

// The same texts without a copy; they live as long as the program.
const char* FunctionNameText(unsigned code);
const char* ResultMessageText(unsigned code);
