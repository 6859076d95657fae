// The message exchange on a socket pair: the bytes the client puts on the wire, pinned
// by hand-written fixtures, and its answer to every kind of response a server may send.
#include "api/exchange.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "api/codes.h"
#include "api/compression.h"
#include "api/session.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A session whose socket is one end of a socket pair; the test plays the server.
class Wire : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ZYMB10API_Init(&session_), 1);
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        session_.socket = ends[0];
        server_ = ends[1];
    }
    void TearDown() override {
        ZYMB10API_Term(&session_);
        if (server_ >= 0) close(server_);
    }
    // Queues what the server answers; the client finds it when it reads.
    void Answer(const Bytes& bytes) {
        ASSERT_EQ(write(server_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void AnswerAndHangUp(const Bytes& bytes) {
        Answer(bytes);
        shutdown(server_, SHUT_WR);
    }
    // Everything the client has sent so far.
    Bytes Received() {
        Bytes bytes(70000);
        const ssize_t got = recv(server_, bytes.data(), bytes.size(), MSG_DONTWAIT);
        bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return bytes;
    }
    ZYMB10APIResponse* Send(uint8_t function, const void* payload, uint32_t length) {
        request_ = {};
        request_.TotalLength = 32 + length;
        request_.Function = function;
        request_.Length = length;
        request_.Payload = payload;
        return ZYMB10API_Send(&session_, &request_);
    }

    ZYMB10APISession session_;
    ZYMB10APIRequest request_;
    int server_ = -1;
};

// A 44-byte response header written field by field, for the malformed cases.
Bytes Header(uint32_t total, uint8_t rc, uint8_t pad, uint8_t format, uint32_t itemLength,
             uint32_t count, uint32_t payloadLength, uint32_t expansion) {
    Bytes h(44, 0);
    auto put = [&h](size_t at, uint32_t v) {
        h[at] = v >> 24;
        h[at + 1] = v >> 16 & 0xFF;
        h[at + 2] = v >> 8 & 0xFF;
        h[at + 3] = v & 0xFF;
    };
    put(0, total);
    h[4] = rc;
    h[6] = pad;
    h[7] = format;
    put(12, itemLength);
    put(20, count);
    put(32, payloadLength);
    put(36, expansion);
    return h;
}

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kEmptyOkResponse = Header(44, 0, 0, 3, 0, 0, 0, 0);
const Bytes kCipherOnResponse = Header(44, 0, 0, 4, 0, 0, 0, 0);

}  // namespace

TEST_F(Wire, ListFileRequestAndBareResponseMatchTheFixtures) {
    const Bytes response = {
        0x00, 0x00, 0x00, 0x2C,  // total length 44
        0x00, 0x07, 0x00, 0x03,  // RC 0, Feedback 7, PadCount 0, FormatLevel 3
        0x00, 0x00, 0x01, 0x02,  // MiliSecs 258
        0x00, 0x00, 0x00, 0x00,  // Length
        0x00, 0x00, 0x00, 0x05,  // Avail 5
        0x00, 0x00, 0x00, 0x00,  // Count
        0x00, 0x00, 0x00, 0x01,  // reserved A
        0x00, 0x00, 0x00, 0x02,  // reserved B
        0x00, 0x00, 0x00, 0x00,  // PayloadLength
        0x00, 0x00, 0x00, 0x00,  // Expansion
        0xFF, 0xFF, 0xFF, 0xFF,  // reserved, ignored
    };
    Answer(response);
    const char customer[4] = {'A', 'C', 'M', 'E'};
    ZYMB10APIResponse* reply = Send(FUNCTION_LIST_FILE, customer, 4);

    const Bytes expectedRequest = {
        0x00, 0x00, 0x00, 0x20,  // total length 32
        0x65, 0x00, 0x64, 0x03,  // List-File, PadCount 0, client level 100, format level 3
        0x00, 0x00, 0x60, 0x00,  // flags 0x2000 | 0x4000
        0x00, 0x00, 0x00, 0x00,  // OptArgs
        0x00, 0x00, 0x00, 0x04,  // Length 4
        0x00, 0x00, 0x00, 0x00,  // Expansion
        0x00, 0x00, 0x00, 0x00,  // reserved
        'A',  'C',  'M',  'E',
    };
    EXPECT_EQ(Received(), expectedRequest);

    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->TotalLength, 44u);
    EXPECT_EQ(reply->RC, 0);
    EXPECT_EQ(reply->Feedback, 7);
    EXPECT_EQ(reply->FormatLevel, 3);
    EXPECT_EQ(reply->MiliSecs, 258u);
    EXPECT_EQ(reply->Avail, 5u);
    EXPECT_EQ(reply->ReservedA, 1u);
    EXPECT_EQ(reply->ReservedB, 2u);
    EXPECT_EQ(reply->PayloadLength, 0u);
    EXPECT_EQ(reply->Payload, reinterpret_cast<uint8_t*>(reply) + 48);

    // The caller's request is as it was, apart from the format level.
    EXPECT_EQ(request_.Flags, 0u);
    EXPECT_EQ(request_.ClientLevel, 0);
    EXPECT_EQ(request_.Length, 4u);
    EXPECT_EQ(request_.Expansion, 0u);
    EXPECT_EQ(request_.PadCount, 0);
    EXPECT_EQ(request_.Payload, customer);
    EXPECT_EQ(request_.FormatLevel, 3);

    EXPECT_EQ(session_.bytesSent, 32u);
    EXPECT_EQ(session_.bytesReceived, 44u);
    EXPECT_EQ(session_.queriesCompleted, 1u);
    EXPECT_EQ(session_.resultCounters[0], 1u);
    EXPECT_EQ(ZYMB10API_FreeResponse(reply), 0);
}

TEST_F(Wire, EncipheredFiveBytePayloadGoesOutAsOneUnitWithPadCount27) {
    Answer(kCipherOnResponse);
    ZYMB10API_FreeResponse(Send(FUNCTION_ID_SERVER, nullptr, 0));
    EXPECT_TRUE(session_.stateFlags & SESSION_CIPHER_ACTIVE);
    Received();

    Answer(kEmptyOkResponse);
    ZYMB10API_FreeResponse(Send(FUNCTION_LIST_FILE, "hello", 5));
    const Bytes wire = Received();
    ASSERT_EQ(wire.size(), 60u);
    const Bytes expectedHeader = {
        0x00, 0x00, 0x00, 0x3C,  // total length 28 + 5 + 27
        0x65, 0x1B, 0x64, 0x03,  // List-File, PadCount 27, 100, 3
        0x00, 0x00, 0xE0, 0x00,  // flags 0x2000 | 0x4000 | 0x8000
        0x00, 0x00, 0x00, 0x00,  // OptArgs
        0x00, 0x00, 0x00, 0x05,  // Length still 5
        0x00, 0x00, 0x00, 0x00,  // Expansion
        0x00, 0x00, 0x00, 0x00,  // reserved
    };
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 28), expectedHeader);
    uint8_t plain[32];
    ASSERT_EQ(XNPCipher_DecryptUnit(&session_.cipher.mode, &session_.cipher.decipherKey,
                                    wire.data() + 28, plain),
              256);
    EXPECT_EQ(memcmp(plain, "hello", 5), 0);
    for (int i = 5; i < 32; ++i) EXPECT_EQ(plain[i], 0);
    EXPECT_EQ(request_.Flags, 0u);
    EXPECT_EQ(request_.PadCount, 0);
}

TEST_F(Wire, EmptyRequestIsABareHeaderEvenWithTheCipherOn) {
    Answer(kCipherOnResponse);
    ZYMB10API_FreeResponse(Send(FUNCTION_ID_SERVER, nullptr, 0));
    const Bytes first = Received();
    ASSERT_EQ(first.size(), 28u);
    EXPECT_EQ(first[3], 28);
    Answer(kEmptyOkResponse);
    ZYMB10API_FreeResponse(Send(FUNCTION_ID_SERVER, nullptr, 0));
    const Bytes second = Received();
    ASSERT_EQ(second.size(), 28u);
    EXPECT_EQ(second[10], 0x60);                                // no 0x8000
    EXPECT_FALSE(session_.stateFlags & SESSION_CIPHER_ACTIVE);  // switched off again
}

TEST_F(Wire, PayloadsOver64BytesAreCompressed) {
    const std::string sixtyFive(65, 'a');
    Answer(kEmptyOkResponse);
    ZYMB10API_FreeResponse(Send(FUNCTION_LIST_FILE, sixtyFive.data(), 64));
    Bytes wire = Received();
    ASSERT_EQ(wire.size(), 28u + 64u);
    EXPECT_EQ(wire[19], 64);
    EXPECT_EQ(wire[23], 0);

    Answer(kEmptyOkResponse);
    ZYMB10API_FreeResponse(Send(FUNCTION_LIST_FILE, sixtyFive.data(), 65));
    wire = Received();
    const uint32_t length = wire[19];
    const uint32_t expansion = wire[23];
    EXPECT_LT(length, 65u);
    EXPECT_EQ(length + expansion, 65u);
    ASSERT_EQ(wire.size(), 28u + length);
    std::string back(65, '\0');
    ASSERT_TRUE(
        InflatePayload(wire.data() + 28, length, reinterpret_cast<uint8_t*>(back.data()), 65));
    EXPECT_EQ(back, sixtyFive);
    EXPECT_EQ(request_.Length, 65u);
    EXPECT_EQ(request_.Expansion, 0u);
}

TEST_F(Wire, CompressedAndEncipheredResponsePayloadsArriveAsTheyWere) {
    // Two 432-byte items, compressed, enciphered: what the server sends for a list.
    Bytes items(864, 0);
    memcpy(items.data() + 0, "first", 5);
    memcpy(items.data() + 432, "second", 6);
    Bytes compressed(items.size());
    const uint32_t packed = CompressPayload(items.data(), 864, compressed.data());
    ASSERT_GT(packed, 0u);
    XNPCipherBlock cipher;
    ASSERT_EQ(XNPCipher_SetUp(&cipher), 1);
    uint8_t* enciphered = nullptr;
    uint32_t padded = 0;
    ASSERT_TRUE(PayloadCipher_Encrypt(&cipher, compressed.data(), packed, &enciphered, &padded));
    Answer(Join(Header(44 + padded, 0, static_cast<uint8_t>(padded - packed), 4, 432, 2, packed,
                       864 - packed),
                Bytes(enciphered, enciphered + padded)));
    free(enciphered);

    ZYMB10APIResponse* reply = Send(FUNCTION_LIST_FILE, "ACME", 4);
    ASSERT_EQ(reply->RC, 0);
    EXPECT_EQ(reply->PayloadLength, 864u);
    EXPECT_EQ(reply->Expansion, 0u);
    EXPECT_EQ(reply->TotalLength, 48u + 864u);
    EXPECT_EQ(Bytes(reply->Payload, reply->Payload + 864), items);
    EXPECT_EQ(session_.bytesReceived, 44u + padded);
    ZYMB10API_FreeResponse(reply);
}

// Responses that do not hold together: each one must come back as RC 15.
struct Malformed {
    const char* what;
    Bytes bytes;
    bool hangUp;  // the server closes after sending them
};

class MalformedResponse : public Wire, public ::testing::WithParamInterface<Malformed> {};

TEST_P(MalformedResponse, BecomesReceiveFailed) {
    const Malformed& c = GetParam();
    if (c.hangUp) {
        AnswerAndHangUp(c.bytes);
    } else {
        Answer(c.bytes);
    }
    ZYMB10APIResponse* reply = Send(FUNCTION_LIST_FILE, "ACME", 4);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->RC, RC_RECEIVE_FAILED) << c.what;
    EXPECT_EQ(reply->PayloadLength, 0u);
    EXPECT_EQ(reply->Count, 0u);
    EXPECT_EQ(session_.queriesCompleted, 0u) << c.what;
    EXPECT_EQ(session_.resultCounters[RC_RECEIVE_FAILED], 0u);
    ZYMB10API_FreeResponse(reply);
}

Bytes Garbage(size_t n) {
    return Bytes(n, 0x5A);
}

INSTANTIATE_TEST_SUITE_P(
    Exchange, MalformedResponse,
    ::testing::Values(
        Malformed{"closed before the length", {0x00, 0x00}, true},
        Malformed{"closed inside the header",
                  Bytes(kEmptyOkResponse.begin(), kEmptyOkResponse.begin() + 20), true},
        Malformed{"declared length 43", Header(43, 0, 0, 3, 0, 0, 0, 0), false},
        Malformed{"declared length absurd", Header(0x7FFFFFF0, 0, 0, 3, 0, 0, 0, 0), false},
        Malformed{"closed inside the payload",
                  Join(Header(144, 0, 0, 3, 0, 0, 100, 0), Garbage(40)), true},
        Malformed{"payload length beyond the payload",
                  Join(Header(54, 0, 0, 3, 0, 0, 11, 0), Garbage(10)), false},
        Malformed{"padding beyond the payload", Join(Header(76, 0, 1, 4, 0, 0, 32, 0), Garbage(32)),
                  false},
        Malformed{"enciphered payload that is not whole cipher units",
                  Join(Header(64, 0, 0, 4, 0, 0, 20, 0), Garbage(20)), false},
        Malformed{"compressed payload that does not inflate",
                  Join(Header(54, 0, 0, 3, 0, 0, 10, 90), Garbage(10)), false},
        Malformed{"count times length beyond the payload",
                  Join(Header(54, 0, 0, 3, 5, 3, 10, 0), Garbage(10)), false},
        Malformed{"count times length beyond 32 bits",
                  Join(Header(54, 0, 0, 3, 0x10000, 0x10000, 10, 0), Garbage(10)), false}),
    [](const ::testing::TestParamInfo<Malformed>& info) {
        std::string name;
        for (const char* c = info.param.what; *c; ++c) {
            if (isalnum(static_cast<unsigned char>(*c))) name += *c;
        }
        return name;
    });

TEST_F(Wire, InflationToAnotherLengthThanAnnouncedIsRefused) {
    Bytes items(500, 'z');
    Bytes compressed(items.size());
    const uint32_t packed = CompressPayload(items.data(), 500, compressed.data());
    compressed.resize(packed);
    for (uint32_t claimed : {499u, 501u}) {
        Answer(Join(Header(44 + packed, 0, 0, 3, 0, 0, packed, claimed - packed), compressed));
        ZYMB10APIResponse* reply = Send(FUNCTION_LIST_FILE, "ACME", 4);
        EXPECT_EQ(reply->RC, RC_RECEIVE_FAILED) << claimed;
        ZYMB10API_FreeResponse(reply);
    }
    // The stream is still in step: a good response after the refused ones comes through.
    Answer(Join(Header(44 + packed, 0, 0, 3, 0, 0, packed, 500 - packed), compressed));
    ZYMB10APIResponse* reply = Send(FUNCTION_LIST_FILE, "ACME", 4);
    EXPECT_EQ(reply->RC, 0);
    EXPECT_EQ(reply->PayloadLength, 500u);
    ZYMB10API_FreeResponse(reply);
}

TEST_F(Wire, AbsurdLengthStopsTheConnection) {
    Answer(Header(0x7FFFFFF0, 0, 0, 3, 0, 0, 0, 0));
    ZYMB10API_FreeResponse(Send(FUNCTION_LIST_FILE, "ACME", 4));
    // The rest of that message would be read as the next response; the client does not
    // try: the next request fails at once.
    ZYMB10APIResponse* reply = Send(FUNCTION_LIST_FILE, "ACME", 4);
    EXPECT_TRUE(reply->RC == RC_SEND_FAILED || reply->RC == RC_RECEIVE_FAILED);
    ZYMB10API_FreeResponse(reply);
}

TEST_F(Wire, SendToAClosedPeerIsSendFailed) {
    close(server_);
    server_ = -1;
    ZYMB10APIResponse* reply = Send(FUNCTION_LIST_FILE, "ACME", 4);
    EXPECT_EQ(reply->RC, RC_SEND_FAILED);
    EXPECT_EQ(session_.bytesSent, 0u);
    ZYMB10API_FreeResponse(reply);
}

TEST_F(Wire, FailingResultIsPassedOnAndCounted) {
    Answer(Header(44, 2, 0, 3, 0, 0, 0, 0));
    ZYMB10APIResponse* reply = Send(FUNCTION_LIST_FILE, "NONE", 4);
    EXPECT_EQ(reply->RC, RC_UNKNOWN_CUSTOMER);
    EXPECT_EQ(session_.resultCounters[RC_UNKNOWN_CUSTOMER], 1u);
    EXPECT_EQ(ZYMB10API_FreeResponse(reply), RC_UNKNOWN_CUSTOMER);
}
