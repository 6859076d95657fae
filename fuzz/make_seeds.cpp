// Writes the binary seed inputs of the fuzz targets (response, request, items) into
// seeds/: messages as the development server and the client put them on the wire, with
// the real cipher and compression. Run by hand when a wire layout changes:
//   cmake --build build --target fuzz_seed_maker && build/fuzz/fuzz_seed_maker fuzz/seeds
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "api/byte_order.h"
#include "api/cipher.h"
#include "api/codes.h"
#include "api/compression.h"
#include "api/exchange.h"
#include "api/file_list.h"
#include "api/file_transfer.h"
#include "api/logon.h"
#include "devserver/server_wire.h"

namespace {

using Bytes = std::vector<uint8_t>;

XNPCipherBlock cipher;

void Save(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    printf("%s: %zu bytes\n", path.c_str(), bytes.size());
}

void Append(Bytes* to, const Bytes& more) {
    to->insert(to->end(), more.begin(), more.end());
}

// A reply as the development server sends it.
Bytes ServerReply(const Reply& reply, bool enciphered, bool compressed) {
    int ends[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, ends);
    size_t sent = 0;
    SendReply(ends[0], reply, {enciphered, compressed, 12}, cipher, {}, &sent);
    close(ends[0]);
    Bytes bytes(sent);
    size_t got = 0;
    while (got < sent) got += static_cast<size_t>(read(ends[1], bytes.data() + got, sent - got));
    close(ends[1]);
    return bytes;
}

// A request as the client sends it: compressed over 64 bytes, enciphered when asked.
Bytes ClientRequest(uint8_t function, const Bytes& payload, bool enciphered) {
    ZYMB10APIRequest request = {};
    request.Function = function;
    request.ClientLevel = API_CLIENT_LEVEL;
    request.FormatLevel = API_FORMAT_LEVEL;
    request.Flags = REQUEST_FLAG_ALWAYS;
    Bytes wire = payload;
    request.Length = static_cast<uint32_t>(payload.size());
    if (payload.size() > COMPRESSION_THRESHOLD) {
        Bytes packed(payload.size());
        const uint32_t length = CompressPayload(payload.data(), request.Length, packed.data());
        if (length > 0) {
            packed.resize(length);
            request.Expansion = request.Length - length;
            request.Length = length;
            wire = packed;
        }
    }
    if (enciphered && !wire.empty()) {
        uint8_t* output = nullptr;
        uint32_t padded = 0;
        PayloadCipher_Encrypt(&cipher, wire.data(), request.Length, &output, &padded);
        request.PadCount = static_cast<uint8_t>(padded - request.Length);
        request.Flags |= REQUEST_FLAG_ENCIPHERED;
        wire.assign(output, output + padded);
        free(output);
    }
    Bytes message(REQUEST_HEADER_SIZE);
    WriteRequestHeader(message.data(), request,
                       static_cast<uint32_t>(REQUEST_HEADER_SIZE + wire.size()));
    Append(&message, wire);
    return message;
}

Bytes Item(const char* name, const std::string& content, int32_t generation) {
    Bytes item(FILE_LIST_ITEM_SIZE, 0);
    memcpy(item.data(), "ACME", 4);
    StoreLittleEndian32(item.data() + 4,
                        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(name),
                                                    static_cast<uInt>(strlen(name)))));
    StoreLittleEndian32(item.data() + 8, static_cast<uint32_t>(generation));
    memcpy(item.data() + ITEM_DESCRIPTION_OFFSET, "Second quarter", 14);
    StoreLittleEndian32(
        item.data() + ITEM_CRC_OFFSET,
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                    static_cast<uInt>(content.size()))));
    StoreLittleEndian64(item.data() + ITEM_SIZE_OFFSET, content.size());
    StoreLittleEndian32(item.data() + ITEM_SECTIONS_OFFSET,
                        static_cast<uint32_t>(content.size() / SECTION_SIZE + 1));
    StoreLittleEndian32(item.data() + ITEM_GENERATION_OFFSET, static_cast<uint32_t>(generation));
    memcpy(item.data() + ITEM_NAME_OFFSET, name, strlen(name));
    return item;
}

// A section as the items target reads it: result code, 3 length bytes, the payload.
Bytes Section(uint32_t number, const std::string& data) {
    Bytes payload(SECTION_DATA_OFFSET, 0);
    memcpy(payload.data(), "ACME", 4);
    StoreLittleEndian32(payload.data() + 4, number);
    StoreLittleEndian32(payload.data() + SECTION_DATA_LENGTH_OFFSET,
                        static_cast<uint32_t>(data.size()));
    payload.insert(payload.end(), data.begin(), data.end());
    Bytes section = {0, static_cast<uint8_t>(payload.size()),
                     static_cast<uint8_t>(payload.size() >> 8),
                     static_cast<uint8_t>(payload.size() >> 16)};
    Append(&section, payload);
    return section;
}

std::string Gzip(const std::string& text) {
    z_stream stream = {};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(text.size() + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_seed_maker SEEDS-FOLDER\n");
        return 1;
    }
    const std::string seeds = argv[1];
    XNPCipher_SetUp(&cipher);
    const std::string report = "id,value\n1,one\n2,two\n";
    const std::string packedReport = Gzip(std::string(300, 'x') + report);

    // Responses: logon, then a list, enciphered and compressed as the server does.
    Reply logon;
    logon.payload.assign(USER_RECORD_SIZE, 0);
    memcpy(logon.payload.data() + 20, "batch", 5);
    Reply list;
    list.itemLength = FILE_LIST_ITEM_SIZE;
    list.count = 2;
    list.avail = 2;
    Append(&list.payload, Item("report.csv", report, 2));
    Append(&list.payload, Item("logs/app.log.gz", packedReport, 1));
    Reply failure;
    failure.rc = RC_UNKNOWN_CUSTOMER;
    Reply section;
    section.payload.assign(SECTION_DATA_OFFSET, 0);
    StoreLittleEndian32(section.payload.data() + SECTION_DATA_LENGTH_OFFSET,
                        static_cast<uint32_t>(packedReport.size()));
    section.payload.insert(section.payload.end(), packedReport.begin(), packedReport.end());
    section.packed = true;

    Bytes enciphered = ServerReply(logon, true, true);
    Append(&enciphered, ServerReply(list, true, true));
    Append(&enciphered, ServerReply(section, true, true));
    Save(seeds + "/response/logon-list-section-enciphered", enciphered);
    Bytes plain = ServerReply(list, false, true);
    Append(&plain, ServerReply(failure, false, true));
    Save(seeds + "/response/list-compressed-then-failure", plain);
    Save(seeds + "/response/list-plain", ServerReply(list, false, false));

    // Requests: a session's logon, ID-Server, list and a section, the first plain (the
    // cipher starts with the logon's reply), the rest enciphered.
    Bytes block(LOGON_BLOCK_SIZE, 0);
    StoreBigEndian16(block.data() + LOGON_PROGRAM_ID, PROGRAM_ID_DOWNLOAD);
    block[LOGON_CLIENT_LEVEL] = API_CLIENT_LEVEL;
    memcpy(block.data() + LOGON_USER_ID, "batch", 5);
    memcpy(block.data() + LOGON_DIGEST, ZYMB10API_PasswordDigest("secret"), 16);
    Bytes sectionRequest(SECTION_REQUEST_SIZE, 0);
    memcpy(sectionRequest.data(), Item("report.csv", report, 2).data(), 16);
    Bytes session = {0};
    Append(&session, ClientRequest(FUNCTION_LOGON, block, false));
    Append(&session, ClientRequest(FUNCTION_ID_SERVER, {}, true));
    Append(&session, ClientRequest(FUNCTION_LIST_FILE, {'A', 'C', 'M', 'E'}, true));
    Append(&session, ClientRequest(FUNCTION_DOWNLOAD_FILE, sectionRequest, true));
    Save(seeds + "/request/session-enciphered", session);
    Bytes loggedOn = {1};
    Append(&loggedOn, ClientRequest(FUNCTION_LIST_FILE, {'A', 'C', 'M', 'E'}, false));
    Append(&loggedOn, ClientRequest(FUNCTION_DOWNLOAD_FILE, sectionRequest, false));
    Append(&loggedOn, ClientRequest(FUNCTION_INHERIT_ACCESS, Bytes(16, 'b'), false));
    Save(seeds + "/request/logged-on-plain", loggedOn);
    Bytes plainPassword = block;
    memset(plainPassword.data() + LOGON_DIGEST, 0, 16);
    StoreBigEndian32(plainPassword.data() + LOGON_FLAGS, LOGON_FLAG_PLAIN);
    memcpy(plainPassword.data() + LOGON_PLAIN_PASSWORD, "secret", 6);
    Bytes plainLogon = {0};
    Append(&plainLogon, ClientRequest(FUNCTION_LOGON, plainPassword, false));
    Append(&plainLogon, ClientRequest(FUNCTION_LIST_SSO, Bytes(100, 0x60), false));
    Save(seeds + "/request/plain-password-then-sso", plainLogon);

    // Items and sections: a plain file in one section, a gzip file, two generations.
    Bytes items = {2, 1, 1};
    Append(&items, Item("report.csv", report, 2));
    Append(&items, Item("report.csv", "old", 1));
    Append(&items, Section(0, report));
    Save(seeds + "/items/newest-plain", items);
    Bytes gzipItems = {1, 4, 1};
    Append(&gzipItems, Item("logs/app.log.gz", packedReport, 1));
    Append(&gzipItems, Section(0, packedReport));
    Save(seeds + "/items/gzip-stripped", gzipItems);
    // A whole section, then the empty last one.
    Bytes fullSection = {1, 2, 0xFF};
    const std::string big(SECTION_SIZE, 'b');
    Append(&fullSection, Item("big.bin", big, 1));
    Append(&fullSection, Section(0, big));
    Append(&fullSection, Section(1, ""));
    Save(seeds + "/items/exact-section-oldest", fullSection);
    return 0;
}
