// The download: selection, the section loop with its CRC-32, the checks and the unpacking.
#include "download/download_mode.h"

#include <fcntl.h>
#include <isa-l/crc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/codes.h"
#include "api/exchange.h"
#include "api/file_list.h"
#include "api/session.h"
#include "download/unpack.h"
#include "frame/extended_match.h"
#include "frame/match_pattern.h"
#include "frame/program_context.h"
#include "frame/progress_line.h"

namespace {

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};

const char* ResultText(unsigned code) {
    static char text[CODE_TEXT_BUFFER_SIZE];
    return ZYMB10API_ResultMessage(code, text);
}

// Sorts by stored name, then by generation: newest first for a positive index.
void SortItems(uint32_t count, uint8_t* items, int32_t generationIndex) {
    // Nothing to order; an empty list must not reach memcpy with no buffer behind it.
    if (count < 2) return;
    std::vector<uint8_t> sorted(static_cast<size_t>(count) * FILE_LIST_ITEM_SIZE);
    std::vector<uint32_t> order(count);
    for (uint32_t i = 0; i < count; ++i) order[i] = i;
    auto item = [items](uint32_t i) {
        return FileListItem{items + static_cast<size_t>(i) * FILE_LIST_ITEM_SIZE};
    };
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        int names = strncmp(item(a).Name(), item(b).Name(), ITEM_NAME_SIZE);
        if (names != 0) return names < 0;
        return generationIndex > 0 ? item(a).Generation() > item(b).Generation()
                                   : item(a).Generation() < item(b).Generation();
    });
    for (uint32_t i = 0; i < count; ++i)
        memcpy(sorted.data() + static_cast<size_t>(i) * FILE_LIST_ITEM_SIZE, item(order[i]).bytes,
               FILE_LIST_ITEM_SIZE);
    memcpy(items, sorted.data(), sorted.size());
}

const char* TemporaryFolder() {
    const char* folder = getenv("TMPDIR");
    return folder == nullptr || *folder == 0 ? "/tmp" : folder;
}

// Mkstemp in the system's temporary folder, with the prefix of this program's files.
// On failure errno holds the cause (ENAMETOOLONG for a folder name that does not fit).
FILE* CreateTemporaryFile(char* name, size_t size) {
    if (snprintf(name, size, "%s/ZYMXXXXXX", TemporaryFolder()) >= static_cast<int>(size)) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    int fd = mkostemp(name, O_CLOEXEC);
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        int cause = errno;
        close(fd);
        unlink(name);
        errno = cause;
    }
    return file;
}

// The run's temporary download file. It holds a whole copy of the data, so it goes at
// the end of every run, the interrupted one included (from the interrupt thread, hence
// the fixed buffer and the atomic flag); ZYMBKEEPTEMP keeps it for diagnosis.
char temporaryPath[4096];
std::atomic<bool> temporaryExists{false};

struct TemporaryDownload {
    ProgramContext* context;
    ~TemporaryDownload() { RemoveTemporaryDownload(context); }
};

// A ".." component or an absolute start, with either separator.
bool LeavesTheFolder(const char* name) {
    if (name[0] == '/' || name[0] == '\\') return true;
    for (const char* at = name; *at != 0;) {
        size_t length = strcspn(at, "/\\");
        if (length == 2 && at[0] == '.' && at[1] == '.') return true;
        at += length;
        if (*at != 0) ++at;
    }
    return false;
}

}  // namespace

void RemoveTemporaryDownload(ProgramContext* context) {
    if (!temporaryExists.exchange(false)) return;
    if (getenv("ZYMBKEEPTEMP") != nullptr) {
        context->Message(context, MSG_INFO, 0, "Temporary file %s kept (ZYMBKEEPTEMP is set)",
                         temporaryPath);
        return;
    }
    unlink(temporaryPath);
}

Destination ChooseDestination(const char* outputName, const char* storedName, size_t storedLength,
                              int32_t stripPath) {
    Destination destination{};
    if (outputName != nullptr && *outputName != 0) {
        snprintf(destination.path, sizeof destination.path, "%s", outputName);
        return destination;
    }
    std::string name(storedName, strnlen(storedName, storedLength));
    if (stripPath != 0) {
        size_t last = name.find_last_of("/\\");
        if (last != std::string::npos) name = name.substr(last + 1);
    } else if (LeavesTheFolder(name.c_str())) {
        destination.refusal = "it would be written outside the working directory";
    }
    // Stored names come from systems where either separator divides folders.
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty() || name == "." || name == "..") destination.refusal = "it names no file";
    snprintf(destination.path, sizeof destination.path, "%s", name.c_str());
    return destination;
}

int DownloadFile(ProgramContext* context, ZYMB10APISession* session, uint32_t count, uint8_t* items,
                 const DownloadRequest& request) {
    context->Message(context, MSG_INFO, 0, "List returned %u items", count);
    SortItems(count, items, request.generationIndex);
    uint32_t wanted =
        static_cast<uint32_t>(std::abs(static_cast<int64_t>(request.generationIndex)));
    // A pattern whose matching could not be bounded is refused, not tried (under a web
    // server the filter comes from the form).
    if (strncmp(request.filter, "*LIST:", 6) != 0) {
        if (const char* refusal = ExtendedPatternRefusal(request.filter, strlen(request.filter))) {
            context->Message(context, MSG_ERROR, 0, "File name filter %s refused: %s",
                             request.filter, refusal);
            return DOWNLOAD_FAILED;
        }
    }
    if (count == 0) {
        context->Message(context, MSG_ERROR, 0, "No file to download: the list is empty");
        return DOWNLOAD_FAILED;
    }

    const uint8_t* selected = nullptr;
    uint32_t matching = 0;
    size_t filterLength = strlen(request.filter);
    for (uint32_t i = 0; i < count && selected == nullptr; ++i) {
        FileListItem item{items + static_cast<size_t>(i) * FILE_LIST_ITEM_SIZE};
        if (!MatchPattern(request.filter, item.Name(), filterLength, item.NameLength())) continue;
        if (++matching == wanted) {
            selected = item.bytes;
        } else {
            context->Message(context, MSG_INFO, 0,
                             "Skipping file %.*s as it is index %u and %u requested",
                             static_cast<int>(ITEM_NAME_SIZE), item.Name(), matching, wanted);
        }
    }
    if (selected == nullptr) {
        if (matching == 0)
            context->Message(context, MSG_ERROR, 0,
                             "No file to download: no stored name matches %s", request.filter);
        else
            context->Message(context, MSG_ERROR, 0,
                             "No file to download: %u stored names match %s, index %u requested",
                             matching, request.filter, wanted);
        return DOWNLOAD_FAILED;
    }
    FileListItem item{selected};
    context->Message(context, MSG_INFO, 0, "Downloading file %.*s",
                     static_cast<int>(ITEM_NAME_SIZE), item.Name());

    char temporaryName[sizeof temporaryPath];
    std::unique_ptr<FILE, FileCloser> temporary(
        CreateTemporaryFile(temporaryName, sizeof temporaryName));
    if (!temporary) {
        context->Message(context, MSG_ERROR, 0, "Unable to create a temporary file in %s: %s",
                         TemporaryFolder(), strerror(errno));
        return DOWNLOAD_FAILED;
    }
    memcpy(temporaryPath, temporaryName, sizeof temporaryPath);
    temporaryExists = true;
    TemporaryDownload removeAtTheEnd{context};
    // Sections go to the file in one write each, not through a buffer of stdio's.
    setvbuf(temporary.get(), nullptr, _IONBF, 0);

    // Unpacking runs beside the transfer; the destination gets its name only after the
    // checks below. When it cannot start, the finished temporary file is unpacked instead.
    Destination destination =
        ChooseDestination(request.outputName, item.Name(), ITEM_NAME_SIZE, request.stripPath);
    StreamingUnpack unpacking;
    if (destination.refusal == nullptr) unpacking.Start(destination.path);

    // ISA-L's CRC-32 (carry-less multiply) runs several times faster than zlib's here.
    uint32_t crc = 0;
    int64_t received = 0;
    bool writeFailed = false;
    uint8_t sectionRequest[SECTION_REQUEST_SIZE];
    uint32_t attempts = 0;  // resumptions so far, over the whole download
    // On a terminal one line shows the progress; the log elsewhere keeps a line per section.
    ProgressLine progress;
    std::string shownName(item.Name(), item.NameLength());
    ProgressLine_Begin(&progress, context, shownName.c_str(),
                       item.Size() > 0 ? static_cast<uint64_t>(item.Size()) : 0);
    ProgressLine_Update(&progress, 0);
    for (uint32_t section = 0;; ++section) {
        ProgressLine_Message(&progress, MSG_INFO, 0, "Downloading section %u of %u", section + 1,
                             item.Sections());
        item.SectionRequest(sectionRequest, section);
        ZYMB10APIRequest requestRecord{};
        requestRecord.TotalLength = 32 + SECTION_REQUEST_SIZE;
        requestRecord.Function = FUNCTION_DOWNLOAD_FILE;
        requestRecord.Length = SECTION_REQUEST_SIZE;
        requestRecord.Payload = sectionRequest;
        ZYMB10APIResponse* response = session->Send(session, &requestRecord);
        unsigned rc = response != nullptr ? response->RC : RC_RECEIVE_FAILED;
        // A section whose length field points past the payload is as good as no answer.
        uint32_t length = 0;
        if (rc == 0) {
            if (response->PayloadLength < SECTION_DATA_OFFSET ||
                (length = LoadLittleEndian32(response->Payload + SECTION_DATA_LENGTH_OFFSET)) >
                    response->PayloadLength - SECTION_DATA_OFFSET)
                rc = RC_RECEIVE_FAILED;
        }
        // A failure the exchange made up (no server message arrived: a broken connection
        // or a time-out) may be resumed on a new connection from this section; a result
        // code the server sent is its answer and stands.
        const bool connectionLost = response == nullptr || response->TotalLength == 0;
        if (rc != 0 && connectionLost && attempts < request.retries && request.reconnect) {
            session->FreeResponse(response);
            ++attempts;
            const unsigned pause = attempts > 7 ? 64u : 1u << (attempts - 1);
            context->Message(context, MSG_WARNING, 0,
                             "Section %u failed (%s): resuming on a new connection in %u "
                             "seconds, attempt %u of %u",
                             section + 1, ResultText(rc), pause, attempts, request.retries);
            sleep(pause);
            if (!request.reconnect())
                context->Message(context, MSG_WARNING, 0, "Reconnection attempt %u failed",
                                 attempts);
            --section;  // the same section again
            continue;
        }
        if (rc != 0) {
            context->Message(context, MSG_ERROR, 0, "Failed to get section: %s", ResultText(rc));
            session->FreeResponse(response);
            break;
        }
        const uint8_t* data = response->Payload + SECTION_DATA_OFFSET;
        crc = crc32_gzip_refl(crc, const_cast<uint8_t*>(data), length);
        if (length > 0 && fwrite(data, 1, length, temporary.get()) != length) {
            context->Message(context, MSG_ERROR, 0, "Write of temporary file %s failed: %s",
                             temporaryName, strerror(errno));
            writeFailed = true;
        }
        received += length;
        ProgressLine_Update(&progress, static_cast<uint64_t>(received));
        // The worker unpacks the section where it arrived and frees the response after.
        if (!writeFailed)
            unpacking.Feed(data, length, [session, response] { session->FreeResponse(response); });
        else
            session->FreeResponse(response);
        // A server that keeps sending full sections past the announced size is not followed.
        if (writeFailed || length != SECTION_SIZE || received > item.Size()) break;
    }
    ProgressLine_End(&progress);
    // The temporary file is only read back here, from the page cache: it needs no fsync.
    if (fflush(temporary.get()) != 0) {
        if (!writeFailed)
            context->Message(context, MSG_ERROR, 0, "Write of temporary file %s failed: %s",
                             temporaryName, strerror(errno));
        writeFailed = true;
    }
    if (fclose(temporary.release()) != 0 && !writeFailed) {
        context->Message(context, MSG_ERROR, 0, "Write of temporary file %s failed: %s",
                         temporaryName, strerror(errno));
        writeFailed = true;
    }
    if (writeFailed) return DOWNLOAD_FAILED;
    if (received != item.Size()) {
        context->Message(context, MSG_ERROR, 0,
                         "File size does not match size of originally uploaded file: %lld, %lld",
                         static_cast<long long>(received), static_cast<long long>(item.Size()));
        return DOWNLOAD_FAILED;
    }
    if (crc != item.Crc()) {
        context->Message(context, MSG_ERROR, 0, "File failed CRC test");
        return DOWNLOAD_FAILED;
    }
    if (destination.refusal != nullptr) {
        context->Message(context, MSG_ERROR, 0, "Stored file name %.*s refused as destination: %s",
                         static_cast<int>(ITEM_NAME_SIZE), item.Name(), destination.refusal);
        return DOWNLOAD_FAILED;
    }
    UnpackResult unpacked =
        unpacking.Started() ? unpacking.Finish() : UnpackFile(temporaryName, destination.path);
    if (!unpacked.ok) {
        switch (unpacked.stage) {
            case UnpackResult::READ_INPUT:
            case UnpackResult::OPEN_INPUT:
                context->Message(context, MSG_ERROR, 0, "Unpacking of %s failed: %s", temporaryName,
                                 unpacked.reason.c_str());
                break;
            case UnpackResult::WRITE_OUTPUT:
                context->Message(context, MSG_ERROR, 0, "Write of output file %s failed: %s",
                                 destination.path, unpacked.reason.c_str());
                break;
            default:
                context->Message(context, MSG_ERROR, 0, "Open of output file failed: %s",
                                 unpacked.reason.c_str());
        }
        return DOWNLOAD_FAILED;
    }
    return 0;
}
