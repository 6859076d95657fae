// The code tables at their edges and their odd spellings.
#include "api/codes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Name(unsigned code) {
    char buffer[CODE_TEXT_BUFFER_SIZE];
    return ZYMB10API_FunctionName(code, buffer);
}

std::string Message(unsigned code) {
    char buffer[CODE_TEXT_BUFFER_SIZE];
    return ZYMB10API_ResultMessage(code, buffer);
}

}  // namespace

TEST(Codes, FunctionNames) {
    const struct {
        unsigned code;
        const char* name;
    } cases[] = {
        {0, "Unknown Function"},    {1, "Add-Customer"},       {33, "Logon"},
        {36, "ID-Server"},          {58, "List Tracking"},     {66, "Unknown Function"},
        {96, "Unknown Function"},   {101, "List-File"},        {105, "Download-File"},
        {123, "Delete-CleintPool"}, {140, "Rename-Volome"},    {167, "List-SSO"},
        {178, "Inherit-Access"},    {179, "Unknown Function"}, {255, "Unknown Function"},
        {1000, "Unknown Function"},
    };
    for (const auto& c : cases) EXPECT_EQ(Name(c.code), c.name) << "code " << c.code;
}

TEST(Codes, ResultMessages) {
    const char* unknownMessage = "Unknown Message. Perhaps your client needs upgrading!";
    const char* unknownError =
        "Unknown Error. Perhaps your Client is older than the Server and needs upgrading";
    const struct {
        unsigned code;
        const char* message;
    } cases[] = {
        {0, "Request OK"},
        {15, "Received failed"},
        {25, "Send failed or timed-out"},
        {28, "Operation was denied as no logon has been performed"},
        {47, "An internal error has orrured"},
        {51, unknownMessage},
        {62, ""},
        {63, unknownMessage},
        {108, unknownMessage},
        {133, "Empty Filee"},
        {134, unknownMessage},
        {254, unknownMessage},
        {255, unknownError},
        {300, unknownError},
    };
    for (const auto& c : cases) EXPECT_EQ(Message(c.code), c.message) << "code " << c.code;
}

TEST(Codes, EveryTextFitsTheSmallestBuffer) {
    size_t longestName = 0;
    size_t longestMessage = 0;
    for (unsigned code = 0; code < 256; ++code) {
        longestName = std::max(longestName, strlen(FunctionNameText(code)));
        longestMessage = std::max(longestMessage, strlen(ResultMessageText(code)));
    }
    EXPECT_EQ(longestName, 27u);
    EXPECT_EQ(longestMessage, 104u);
}
