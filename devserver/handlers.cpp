// The development server's functions: Logon, ID-Server, Inherit-Access, List-File and
// Download-File, with the logon rule in front of them.
#include "devserver/handlers.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "api/byte_order.h"
#include "api/codes.h"
#include "api/file_list.h"
#include "api/logon.h"
#include "devserver/server.h"

namespace {

using Handler = Reply (*)(ServerShared&, ConnectionState&, const IncomingRequest&,
                          const std::vector<Fault>&);

Reply Result(uint8_t rc) {
    Reply reply;
    reply.rc = rc;
    return reply;
}

bool AllZero(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

// One log line per logon: which field named the user, how the password came, the
// client's program, level and time zone, and the outcome.
Reply LoggedLogon(const ConnectionState& connection, const uint8_t* block, const char* how,
                  const std::string& user, const char* form, uint8_t rc) {
    ServerLog("#%d logon by %s %s (program %u, client level %u, time zone %d, %s): %s",
              connection.id, how, user.empty() ? "-" : user.c_str(),
              LoadBigEndian16(block + LOGON_PROGRAM_ID), block[LOGON_CLIENT_LEVEL],
              static_cast<int8_t>(block[LOGON_TIME_ZONE]), form,
              rc == RC_OK ? "accepted" : ResultMessageText(rc));
    return Result(rc);
}

Reply HandleLogon(ServerShared& shared, ConnectionState& connection, const IncomingRequest& request,
                  const std::vector<Fault>&) {
    if (request.payload.size() != LOGON_BLOCK_SIZE) return Result(RC_INVALID_ARGUMENT_LENGTH);
    const uint8_t* block = request.payload.data();
    const bool plain = LoadBigEndian32(block + LOGON_FLAGS) & LOGON_FLAG_PLAIN;
    const char* how = "user ID";
    const char* form = plain ? "plain password" : "digest";
    std::string user = FieldText(block + LOGON_USER_ID, 16);
    if (user.empty()) {
        how = "principal name";
        user = FieldText(block + LOGON_PRINCIPAL, 320);
    }
    if (user.empty()) {
        // Only a client that passed single sign-on on this connection may log on without
        // a name, and then with no password of any form either.
        const bool noCredentials =
            AllZero(block + LOGON_USER_ID, LOGON_FLAGS - LOGON_USER_ID) &&
            AllZero(block + LOGON_PRINCIPAL, LOGON_BLOCK_SIZE - LOGON_PRINCIPAL);
        if (!noCredentials) {
            return LoggedLogon(connection, block, "user ID", "", form, RC_AUTHORIZATION_FAILURE);
        }
        how = "single sign-on";
        form = "no password";
        if (connection.singleSignOnUser.empty()) {
            return LoggedLogon(connection, block, how, "", form, RC_AUTHORIZATION_FAILURE);
        }
        user = connection.singleSignOnUser;
        if (!shared.users->Exists(user)) {
            return LoggedLogon(connection, block, how, user, form, RC_UNKNOWN_USER);
        }
    } else {
        if (!shared.users->Exists(user)) {
            return LoggedLogon(connection, block, how, user, form, RC_UNKNOWN_USER);
        }
        const bool accepted =
            plain ? shared.users->CheckPlain(user, FieldText(block + LOGON_PLAIN_PASSWORD, 256))
                  : shared.users->CheckDigest(user, block + LOGON_DIGEST);
        if (!accepted) {
            return LoggedLogon(connection, block, how, user, form, RC_AUTHORIZATION_FAILURE);
        }
    }
    LoggedLogon(connection, block, how, user, form, RC_OK);
    const UserEntry before = shared.users->RecordLogon(user, static_cast<uint32_t>(time(nullptr)),
                                                       connection.peerAddress);
    connection.loggedOn = true;
    connection.user = user;

    Reply reply;
    reply.payload.assign(USER_RECORD_SIZE, 0);
    StoreBigEndian32(reply.payload.data() + USER_RECORD_LAST_LOGON, before.lastLogonTime);
    memcpy(reply.payload.data() + USER_RECORD_ADDRESS, &before.lastLogonAddress, 4);
    if (before.inheritable) reply.payload[USER_RECORD_FLAGS] |= USER_RECORD_INHERITABLE;
    memcpy(reply.payload.data() + USER_RECORD_USER, user.data(), std::min<size_t>(user.size(), 16));
    return reply;
}

Reply HandleIdServer(ServerShared& shared, ConnectionState&, const IncomingRequest&,
                     const std::vector<Fault>&) {
    Reply reply;
    reply.payload.assign(128, 0);
    memcpy(reply.payload.data() + SERVER_NAME_OFFSET, shared.name.data(),
           std::min<size_t>(shared.name.size(), SERVER_NAME_SIZE));
    return reply;
}

Reply HandleInheritAccess(ServerShared& shared, ConnectionState& connection,
                          const IncomingRequest& request, const std::vector<Fault>&) {
    if (request.payload.size() != 16) return Result(RC_INVALID_ARGUMENT_LENGTH);
    const std::string from = FieldText(request.payload.data(), 16);
    if (!shared.users->Exists(from)) return Result(RC_UNKNOWN_USER);
    if (!shared.users->Inheritable(connection.user)) return Result(RC_SECURITY_DENIED);
    connection.inheritedFrom = from;
    return Result(RC_OK);
}

Reply HandleListFile(ServerShared& shared, ConnectionState&, const IncomingRequest& request,
                     const std::vector<Fault>& faults) {
    if (request.payload.size() != 4) return Result(RC_INVALID_ARGUMENT_LENGTH);
    const std::string customer = FieldText(request.payload.data(), 4);
    std::vector<StoredFile> files;
    if (!shared.files->List(customer, &files)) return Result(RC_UNKNOWN_CUSTOMER);
    Reply reply;
    reply.itemLength = FILE_LIST_ITEM_SIZE;
    reply.payload.reserve(files.size() * FILE_LIST_ITEM_SIZE);
    for (const StoredFile& file : files) {
        uint32_t crc = 0;
        if (!shared.files->Crc(file, &crc)) continue;  // unreadable: not offered
        uint8_t item[FILE_LIST_ITEM_SIZE];
        shared.files->MakeItem(customer, file, crc, item);
        if (HasFault(faults, FaultKind::BadCrc)) StoreLittleEndian32(item + ITEM_CRC_OFFSET, ~crc);
        if (HasFault(faults, FaultKind::BadSize))
            StoreLittleEndian64(item + ITEM_SIZE_OFFSET, file.size + 1);
        reply.payload.insert(reply.payload.end(), item, item + FILE_LIST_ITEM_SIZE);
        reply.count++;
    }
    reply.avail = reply.count;
    return reply;
}

Reply HandleDownloadFile(ServerShared& shared, ConnectionState&, const IncomingRequest& request,
                         const std::vector<Fault>& faults) {
    if (request.payload.size() != SECTION_REQUEST_SIZE) return Result(RC_INVALID_ARGUMENT_LENGTH);
    const uint8_t* section = request.payload.data();
    const std::string customer = FieldText(section + ITEM_CUSTOMER_OFFSET, ITEM_CUSTOMER_SIZE);
    const uint32_t key1 = LoadLittleEndian32(section + ITEM_KEY1_OFFSET);
    const uint32_t key2 = LoadLittleEndian32(section + ITEM_KEY2_OFFSET);
    const uint32_t number = LoadLittleEndian32(section + SECTION_REQUEST_NUMBER_OFFSET);
    std::vector<StoredFile> files;
    if (!shared.files->List(customer, &files)) return Result(RC_UNKNOWN_CUSTOMER);
    const StoredFile* file = nullptr;
    for (const StoredFile& candidate : files) {
        if (candidate.key1 == key1 && candidate.key2 == key2) file = &candidate;
    }
    if (file == nullptr) return Result(RC_UNKNOWN_CATALOG_ENTRY);

    const bool endless = HasFault(faults, FaultKind::EndlessSections);
    const uint64_t offset = uint64_t{number} * SECTION_SIZE;
    if (offset > file->size && !endless) return Result(RC_INVALID_LOCATION_INDEX);
    const uint64_t left = offset < file->size ? file->size - offset : 0;
    const uint32_t length =
        endless ? SECTION_SIZE : static_cast<uint32_t>(left < SECTION_SIZE ? left : SECTION_SIZE);
    Reply reply;
    reply.payload.assign(SECTION_DATA_OFFSET + size_t{length}, 0);
    memcpy(reply.payload.data(), customer.data(), customer.size());
    StoreLittleEndian32(reply.payload.data() + SECTION_NUMBER_OFFSET, number);
    StoreLittleEndian32(reply.payload.data() + SECTION_COUNT_OFFSET, SectionCount(file->size));
    const uint32_t declared =
        HasFault(faults, FaultKind::BadSectionLength) ? length + 1000 : length;
    StoreLittleEndian32(reply.payload.data() + SECTION_DATA_LENGTH_OFFSET, declared);
    const size_t toRead = static_cast<size_t>(left < length ? left : length);
    if (toRead > 0) {
        const int fd = open(file->contentPath.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t got = fd < 0 ? -1
                                   : pread(fd, reply.payload.data() + SECTION_DATA_OFFSET, toRead,
                                           static_cast<off_t>(offset));
        // Sections of gzip content do not shrink: deflating them again would cost the
        // server far more time than the whole transfer.
        uint8_t magic[2] = {};
        reply.packed =
            fd >= 0 && pread(fd, magic, 2, 0) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
        if (fd >= 0) close(fd);
        if (got != static_cast<ssize_t>(toRead)) return Result(44);  // "Database Read Failed"
    }
    return reply;
}

struct FunctionEntry {
    uint8_t function;
    bool needsLogon;
    Handler handler;
};

constexpr FunctionEntry kFunctions[] = {
    {FUNCTION_LOGON, false, HandleLogon},
    {FUNCTION_LIST_SSO, false, HandleListSso},
    {FUNCTION_ID_SERVER, true, HandleIdServer},
    {FUNCTION_INHERIT_ACCESS, true, HandleInheritAccess},
    {FUNCTION_LIST_FILE, true, HandleListFile},
    {FUNCTION_DOWNLOAD_FILE, true, HandleDownloadFile},
};

}  // namespace

std::string FieldText(const uint8_t* field, size_t width) {
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, width));
}

Reply Dispatch(ServerShared& shared, ConnectionState& connection, const IncomingRequest& request,
               const std::vector<Fault>& faults) {
    uint32_t forced = 0;
    if (HasFault(faults, FaultKind::ResultCode, &forced))
        return Result(static_cast<uint8_t>(forced));
    Reply reply = Result(RC_UNKNOWN_COMMAND);
    for (const FunctionEntry& entry : kFunctions) {
        if (entry.function != request.header.Function) continue;
        reply = entry.needsLogon && !connection.loggedOn
                    ? Result(RC_NO_LOGON)
                    : entry.handler(shared, connection, request, faults);
        break;
    }
    uint32_t size = 0;
    if (HasFault(faults, FaultKind::PayloadSize, &size)) reply.payload.resize(size, 0);
    return reply;
}
