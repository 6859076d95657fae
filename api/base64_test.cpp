// Base64 against the RFC 4648 test vectors.
#include "api/base64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

TEST(Base64, PublishedVectors) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"f", "Zg=="},
                 {"fo", "Zm8="},
                 {"foo", "Zm9v"},
                 {"foob", "Zm9vYg=="},
                 {"fooba", "Zm9vYmE="},
                 {"foobar", "Zm9vYmFy"},
                 {"user:secret", "dXNlcjpzZWNyZXQ="}};
    for (const auto& c : cases) {
        char* text = XNPBase64Encode(c.in, strlen(c.in));
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.out);
        free(text);
    }
    EXPECT_EQ(XNPBase64Encode("", 0), nullptr);
    const unsigned char high[] = {0xFB, 0xFF};
    char* text = XNPBase64Encode(high, sizeof high);
    EXPECT_STREQ(text, "+/8=");
    free(text);
}
