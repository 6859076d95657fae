// Compression at the 64/65-byte edge and exact inflation.
#include "api/compression.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Compression, SixtyFourBytesStayPlainSixtyFiveAreCompressed) {
    std::vector<uint8_t> data(65, 'a');
    std::vector<uint8_t> out(65);
    EXPECT_EQ(CompressPayload(data.data(), 64, out.data()), 0u);
    const uint32_t compressed = CompressPayload(data.data(), 65, out.data());
    ASSERT_GT(compressed, 0u);
    ASSERT_LT(compressed, 65u);

    std::vector<uint8_t> back(65);
    ASSERT_TRUE(InflatePayload(out.data(), compressed, back.data(), 65));
    EXPECT_EQ(back, data);
}

TEST(Compression, IncompressibleDataStaysPlain) {
    std::vector<uint8_t> data(200);
    uint32_t state = 12345;
    for (auto& byte : data) {
        state = state * 1103515245 + 12345;
        byte = static_cast<uint8_t>(state >> 16);
    }
    std::vector<uint8_t> out(data.size());
    EXPECT_EQ(CompressPayload(data.data(), 200, out.data()), 0u);
}

TEST(Compression, InflationMustYieldExactlyTheAnnouncedLength) {
    std::vector<uint8_t> data(1000, 'x');
    std::vector<uint8_t> out(data.size());
    const uint32_t compressed = CompressPayload(data.data(), 1000, out.data());
    ASSERT_GT(compressed, 0u);
    std::vector<uint8_t> back(1001);
    EXPECT_FALSE(InflatePayload(out.data(), compressed, back.data(), 999));       // too small
    EXPECT_FALSE(InflatePayload(out.data(), compressed, back.data(), 1001));      // too large
    EXPECT_FALSE(InflatePayload(out.data(), compressed - 3, back.data(), 1000));  // cut short
    const uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(InflatePayload(garbage, sizeof garbage, back.data(), 1000));
    EXPECT_TRUE(InflatePayload(out.data(), compressed, back.data(), 1000));
}
