// Saving a workbook: the stream goes into an OLE2 compound document (libgsf's MS-OLE
// writer), in memory or in a file that is renamed into place once it is complete.
#include <gsf/gsf.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/whole_file.h"
#include "report/xls/xls_book_parts.h"

namespace {

void StartLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { gsf_init(); });
}

// The reason a libgsf output failed, or fallback when it gives none.
std::string OutputError(GsfOutput* output, const char* fallback) {
    const GError* error = gsf_output_error(output);
    return error != nullptr && error->message != nullptr ? error->message : fallback;
}

// Writes the container with the workbook stream into sink and closes sink.
bool WriteContainer(XlsBook* book, GsfOutput* sink) {
    GsfOutfile* container = gsf_outfile_msole_new(sink);
    if (container == nullptr) {
        book->error = OutputError(sink, "cannot start the compound document");
        return false;
    }
    GsfOutput* stream = gsf_outfile_new_child(container, "Workbook", FALSE);
    bool written =
        stream != nullptr && xls::WriteWorkbookStream(*book, [&](std::string_view part) {
            return part.empty() ||
                   gsf_output_write(stream, part.size(),
                                    reinterpret_cast<const guint8*>(part.data())) != FALSE;
        });
    if (!written) book->error = OutputError(stream != nullptr ? stream : sink, "write failed");
    if (stream != nullptr) {
        if (!gsf_output_close(stream) && written) {
            book->error = OutputError(stream, "write failed");
            written = false;
        }
        g_object_unref(stream);
    }
    GsfOutput* containerOutput = GSF_OUTPUT(container);
    if (!gsf_output_close(containerOutput) && written) {
        book->error = OutputError(containerOutput, "write failed");
        written = false;
    }
    g_object_unref(container);
    if (!gsf_output_is_closed(sink) && !gsf_output_close(sink) && written) {
        book->error = OutputError(sink, "write failed");
        written = false;
    }
    if (written && gsf_output_error(sink) != nullptr) {
        book->error = OutputError(sink, "write failed");
        written = false;
    }
    return written;
}

void ForgetSavedBytes(XlsBook* book) {
    if (book->saved != nullptr) g_object_unref(book->saved);
    book->saved = nullptr;
}

}  // namespace

int XlsBook_SaveToMemory(XlsBook* book, const char** bytes, uint32_t* size) {
    StartLibrary();
    ForgetSavedBytes(book);
    GsfOutput* memory = gsf_output_memory_new();
    if (!WriteContainer(book, memory)) {
        g_object_unref(memory);
        return 0;
    }
    gsf_off_t length = gsf_output_size(memory);
    if (length < 0 || length > UINT32_MAX) {
        book->error = "the workbook is too large to be held in memory";
        g_object_unref(memory);
        return 0;
    }
    book->saved = memory;
    *bytes = reinterpret_cast<const char*>(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory)));
    *size = static_cast<uint32_t>(length);
    book->error.clear();
    return 1;
}

int XlsBook_SaveToFile(XlsBook* book, const char* path) {
    StartLibrary();
    book->error.clear();
    // The workbook is on disk before it takes the name, so a crash leaves the old file.
    ReplaceStage stage;
    const int error = Platform_ReplaceFile(
        path,
        [book, path](int fd) {
            const int own = dup(fd);
            FILE* file = own >= 0 ? fdopen(own, "wb") : nullptr;
            if (file == nullptr) {
                const int cause = errno;
                if (own >= 0) close(own);
                book->error = strerror(cause);
                errno = cause;
                return false;
            }
            GsfOutput* sink = gsf_output_stdio_new_FILE(path, file, TRUE);
            bool written = WriteContainer(book, sink);
            g_object_unref(sink);
            if (written && fflush(file) != 0) {
                book->error = strerror(errno);
                written = false;
            }
            if (fclose(file) != 0 && written) {
                book->error = strerror(errno);
                written = false;
            }
            if (!written && errno == 0) errno = EIO;
            return written;
        },
        &stage);
    if (error != 0) {
        // A failed write has said why already; the other steps fail with the system's words.
        if (stage == ReplaceStage::CREATE)
            book->error = std::string("cannot create a file beside it: ") + strerror(error);
        else if (stage != ReplaceStage::WRITE || book->error.empty())
            book->error = strerror(error);
        return 0;
    }
    book->error.clear();
    return 1;
}

void XlsBook_Release(XlsBook* book) {
    if (book == nullptr) return;
    ForgetSavedBytes(book);
    delete book;
}
