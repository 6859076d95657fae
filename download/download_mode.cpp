// The download: selection, the section loop with its CRC-32, the checks and the unpacking.
#include "download/download_mode.h"

#include <fcntl.h>
#include <isa-l/crc.h>
#include <sys/stat.h>
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
#include "base/shown_text.h"
#include "base/value_format.h"
#include "download/unpack.h"
#include "frame/extended_match.h"
#include "frame/match_pattern.h"
#include "frame/program_context.h"
#include "frame/progress_line.h"
#include "platform/whole_file.h"

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

// The run's copy of the data in the system's temporary folder. It has no name, so that
// nothing is left behind even when the process is killed (SIGKILL runs no handler); where
// the file system cannot make such a file, and when ZYMBKEEPTEMP asks to keep the copy, it
// is a file named with this program's prefix, and *named says so. name gets the text the
// messages show: the file's name, or the folder with "(unnamed)". On failure errno holds
// the cause (ENAMETOOLONG for a folder name that does not fit).
FILE* CreateTemporaryFile(char* name, size_t size, bool* named) {
    const char* folder = Platform_TemporaryFolder();
    *named = true;
    if (getenv("ZYMBKEEPTEMP") == nullptr) {
        const int fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        // EOPNOTSUPP: a file system without them; EISDIR: a kernel without them.
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR) return nullptr;
        if (fd >= 0) {
            *named = false;
            snprintf(name, size, "%s/(unnamed)", folder);
            FILE* file = fdopen(fd, "w+b");
            if (file == nullptr) {
                const int cause = errno;
                close(fd);
                errno = cause;
            }
            return file;
        }
    }
    if (snprintf(name, size, "%s/ZYMXXXXXX", folder) >= static_cast<int>(size)) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    int fd = mkostemp(name, O_CLOEXEC);
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, "w+b");
    if (file == nullptr) {
        int cause = errno;
        close(fd);
        unlink(name);
        errno = cause;
    }
    return file;
}

// The stored name as log lines show it: it comes from the server.
std::string ShownName(const FileListItem& item) {
    return ShownText(std::string_view(item.Name(), item.NameLength()));
}

// The destination's absolute path, and its size, for the line that reports the success.
void ReportSaved(ProgramContext* context, const char* path) {
    std::string full;
    if (char* resolved = realpath(path, nullptr)) {
        full = resolved;
        free(resolved);
    } else if (path[0] == '/') {
        full = path;
    } else if (char* folder = getcwd(nullptr, 0)) {
        full = std::string(folder) + "/" + path;
        free(folder);
    } else {
        full = path;
    }
    struct stat status {};
    stat(path, &status);
    char size[32];
    Message(context, MSG_INFO, 0, "Saved %s (%s bytes, size and CRC checked)",
            ShownText(full).c_str(),
            FormatCount(static_cast<uint64_t>(status.st_size), size, sizeof size, 0));
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
        Message(context, MSG_INFO, 0, "Temporary file %s kept (ZYMBKEEPTEMP is set)",
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
    Message(context, MSG_INFO, 0, "List returned %u items", count);
    SortItems(count, items, request.generationIndex);
    uint32_t wanted =
        static_cast<uint32_t>(std::abs(static_cast<int64_t>(request.generationIndex)));
    // A pattern whose matching could not be bounded is refused, not tried (under a web
    // server the filter comes from the form).
    if (strncmp(request.filter, "*LIST:", 6) != 0) {
        if (const char* refusal = ExtendedPatternRefusal(request.filter, strlen(request.filter))) {
            Message(context, MSG_ERROR, 0, "File name filter %s refused: %s", request.filter,
                    refusal);
            return DOWNLOAD_FAILED;
        }
    }
    if (count == 0) {
        Message(context, MSG_ERROR, 0, "No file to download: the list is empty");
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
            Message(context, MSG_INFO, 0, "Skipping file %s as it is index %u and %u requested",
                    ShownName(item).c_str(), matching, wanted);
        }
    }
    if (selected == nullptr) {
        if (matching == 0)
            Message(context, MSG_ERROR, 0, "No file to download: no stored name matches %s",
                    request.filter);
        else
            Message(context, MSG_ERROR, 0,
                    "No file to download: %u stored names match %s, index %u requested", matching,
                    request.filter, wanted);
        return DOWNLOAD_FAILED;
    }
    FileListItem item{selected};
    Message(context, MSG_INFO, 0, "Downloading file %s", ShownName(item).c_str());

    char temporaryName[sizeof temporaryPath];
    bool temporaryNamed = true;
    std::unique_ptr<FILE, FileCloser> temporary(
        CreateTemporaryFile(temporaryName, sizeof temporaryName, &temporaryNamed));
    if (!temporary) {
        Message(context, MSG_ERROR, 0, "Unable to create a temporary file in %s: %s",
                Platform_TemporaryFolder(), strerror(errno));
        return DOWNLOAD_FAILED;
    }
    if (temporaryNamed) {
        memcpy(temporaryPath, temporaryName, sizeof temporaryPath);
        temporaryExists = true;
    }
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
        SectionReply reply = request.fetchSection(session, item, section);
        ZYMB10APIResponse* response = reply.response;
        const unsigned rc = reply.rc;
        const uint32_t length = reply.length;
        const bool connectionLost = reply.connectionLost;
        if (rc != 0 && connectionLost && attempts < request.retries && request.reconnect) {
            ZYMB10API_FreeResponse(response);
            ++attempts;
            const unsigned pause = attempts > 7 ? 64u : 1u << (attempts - 1);
            Message(context, MSG_WARNING, 0,
                    "Section %u failed (%s): resuming on a new connection in %u "
                    "seconds, attempt %u of %u",
                    section + 1, ResultText(rc), pause, attempts, request.retries);
            sleep(pause);
            if (!request.reconnect())
                Message(context, MSG_WARNING, 0, "Reconnection attempt %u failed", attempts);
            --section;  // the same section again
            continue;
        }
        if (rc != 0) {
            Message(context, MSG_ERROR, 0, "Failed to get section: %s", ResultText(rc));
            ZYMB10API_FreeResponse(response);
            break;
        }
        const uint8_t* data = reply.data;
        crc = crc32_gzip_refl(crc, const_cast<uint8_t*>(data), length);
        if (length > 0 && fwrite(data, 1, length, temporary.get()) != length) {
            Message(context, MSG_ERROR, 0, "Write of temporary file %s failed: %s", temporaryName,
                    strerror(errno));
            writeFailed = true;
        }
        received += length;
        ProgressLine_Update(&progress, static_cast<uint64_t>(received));
        // The worker unpacks the section where it arrived and frees the response after.
        if (!writeFailed)
            unpacking.Feed(data, length, [response] { ZYMB10API_FreeResponse(response); });
        else
            ZYMB10API_FreeResponse(response);
        // A server that keeps sending full sections past the announced size is not followed.
        if (writeFailed || length != SECTION_SIZE || received > item.Size()) break;
    }
    ProgressLine_End(&progress);
    // The temporary file is only read back here, from the page cache: it needs no fsync.
    if (fflush(temporary.get()) != 0) {
        if (!writeFailed)
            Message(context, MSG_ERROR, 0, "Write of temporary file %s failed: %s", temporaryName,
                    strerror(errno));
        writeFailed = true;
    }
    // An unnamed file is gone once closed: it stays open until the unpacking below.
    if (temporaryNamed && fclose(temporary.release()) != 0 && !writeFailed) {
        Message(context, MSG_ERROR, 0, "Write of temporary file %s failed: %s", temporaryName,
                strerror(errno));
        writeFailed = true;
    }
    if (writeFailed) return DOWNLOAD_FAILED;
    if (received != item.Size()) {
        Message(context, MSG_ERROR, 0,
                "File size does not match size of originally uploaded file: %lld, %lld",
                static_cast<long long>(received), static_cast<long long>(item.Size()));
        return DOWNLOAD_FAILED;
    }
    if (crc != item.Crc()) {
        Message(context, MSG_ERROR, 0, "File failed CRC test");
        return DOWNLOAD_FAILED;
    }
    if (destination.refusal != nullptr) {
        Message(context, MSG_ERROR, 0, "Stored file name %s refused as destination: %s",
                ShownName(item).c_str(), destination.refusal);
        return DOWNLOAD_FAILED;
    }
    UnpackResult unpacked;
    if (unpacking.Started()) {
        unpacked = unpacking.Finish();
    } else {
        // The unnamed file is read back through its descriptor's name in /proc.
        char source[sizeof temporaryPath];
        if (temporaryNamed)
            snprintf(source, sizeof source, "%s", temporaryName);
        else
            snprintf(source, sizeof source, "/proc/self/fd/%d", fileno(temporary.get()));
        unpacked = UnpackFile(source, destination.path);
    }
    temporary.reset();
    const std::string shownDestination = ShownText(destination.path);
    if (!unpacked.ok) {
        switch (unpacked.stage) {
            case UnpackResult::READ_INPUT:
            case UnpackResult::OPEN_INPUT:
                Message(context, MSG_ERROR, 0, "Unpacking of %s failed: %s",
                        ShownName(item).c_str(), unpacked.reason.c_str());
                break;
            case UnpackResult::WRITE_OUTPUT:
                Message(context, MSG_ERROR, 0, "Write of output file %s failed: %s",
                        shownDestination.c_str(), unpacked.reason.c_str());
                break;
            default:
                Message(context, MSG_ERROR, 0, "Open of output file failed: %s (%s)",
                        unpacked.reason.c_str(), shownDestination.c_str());
        }
        return DOWNLOAD_FAILED;
    }
    if (unpacked.trailingIgnored)
        Message(context, MSG_WARNING, 0,
                "Unpacking of %s: decompression OK, trailing garbage ignored",
                ShownName(item).c_str());
    ReportSaved(context, destination.path);
    return 0;
}
