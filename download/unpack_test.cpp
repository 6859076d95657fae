// Unpacking and the choice of destination: complete files or none, never a replaced one.
#include "download/unpack.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "api/file_list.h"
#include "download/download_mode.h"
#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Gzip(const std::string& content) {
    TempDir scratch;
    gzFile file = gzopen((scratch / "g.gz").c_str(), "wb9");
    gzwrite(file, content.data(), static_cast<unsigned>(content.size()));
    gzclose(file);
    return ReadFile(scratch / "g.gz");
}

std::string Pattern(size_t size) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i)
        text += "line " + std::to_string(i) + " of the sample\n";
    text.resize(size);
    return text;
}

// Only the destination may appear: no hidden partial file stays in its folder.
size_t FilesIn(const std::string& folder) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(Unpack, GzipAndPlainContent) {
    TempDir work;
    std::string content = Pattern(700000);
    WriteFile(work / "packed", Gzip(content));
    WriteFile(work / "plain", content);
    std::filesystem::create_directory(work / "out");
    ASSERT_TRUE(UnpackFile((work / "packed").c_str(), (work / "out/a").c_str()).ok);
    ASSERT_TRUE(UnpackFile((work / "plain").c_str(), (work / "out/b").c_str()).ok);
    EXPECT_EQ(ReadFile(work / "out/a"), content);
    EXPECT_EQ(ReadFile(work / "out/b"), content);
    EXPECT_EQ(FilesIn(work / "out"), 2u);
    WriteFile(work / "empty", "");
    ASSERT_TRUE(UnpackFile((work / "empty").c_str(), (work / "out/c").c_str()).ok);
    EXPECT_EQ(ReadFile(work / "out/c"), "");
}

TEST(Unpack, BrokenStreamsLeaveNothing) {
    TempDir work;
    std::string packed = Gzip(Pattern(300000));
    std::string corrupt = packed;
    for (size_t i = 40; i < 200; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
    const std::pair<std::string, std::string> cases[] = {
        {"truncated", packed.substr(0, packed.size() / 2)},
        {"corrupt", corrupt},
        {"no trailer", packed.substr(0, packed.size() - 4)},
    };
    std::filesystem::create_directory(work / "out");
    for (const auto& [name, bytes] : cases) {
        WriteFile(work / name, bytes);
        UnpackResult result = UnpackFile((work / name).c_str(), (work / ("out/" + name)).c_str());
        EXPECT_FALSE(result.ok) << name;
        EXPECT_EQ(result.stage, UnpackResult::READ_INPUT) << name;
        EXPECT_FALSE(result.reason.empty());
        EXPECT_NE(result.reason, "Success");
    }
    EXPECT_EQ(FilesIn(work / "out"), 0u);
}

TEST(Unpack, NeverReplacesAndNamesTheCause) {
    TempDir work;
    WriteFile(work / "in", "new");
    WriteFile(work / "existing", "old");
    UnpackResult result = UnpackFile((work / "in").c_str(), (work / "existing").c_str());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "File exists");
    EXPECT_EQ(ReadFile(work / "existing"), "old");

    result = UnpackFile((work / "in").c_str(), (work / "no/such/folder/x").c_str());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.stage, UnpackResult::CREATE_OUTPUT);
    EXPECT_EQ(result.reason, "No such file or directory");

    result = UnpackFile((work / "missing").c_str(), (work / "y").c_str());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "No such file or directory");
}

// Unpacking while the bytes arrive must end exactly as unpacking the finished file does:
// the same content, or the same failure with the same words, and nothing left behind.
TEST(StreamingUnpack, EndsAsUnpackingTheFinishedFileDoes) {
    TempDir work;
    // Larger than the pipe, so the worker unpacks while the feeding goes on.
    const std::string content = Pattern(3000000);
    const std::string packed = Gzip(content);
    std::string corrupt = packed;
    for (size_t i = 40; i < 200; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
    const std::pair<std::string, std::string> cases[] = {
        {"gzip", packed},
        {"plain", content},
        {"empty", ""},
        {"two members", Gzip("first\n") + Gzip("second\n")},
        {"trailing bytes", packed + "not gzip"},
        {"one trailing byte", packed + "x"},
        {"truncated", packed.substr(0, packed.size() / 2)},
        {"corrupt", corrupt},
        {"no trailer", packed.substr(0, packed.size() - 4)},
    };
    std::filesystem::create_directory(work / "file");
    std::filesystem::create_directory(work / "stream");
    for (const auto& [name, bytes] : cases) {
        WriteFile(work / name, bytes);
        UnpackResult fromFile =
            UnpackFile((work / name).c_str(), (work / ("file/" + name)).c_str());

        StreamingUnpack streaming;
        ASSERT_TRUE(streaming.Start((work / ("stream/" + name)).c_str())) << name;
        // Pieces of uneven size, as sections and their last one come.
        for (size_t at = 0; at < bytes.size(); at += SECTION_SIZE) {
            const size_t piece = std::min<size_t>(SECTION_SIZE, bytes.size() - at);
            streaming.Feed(reinterpret_cast<const uint8_t*>(bytes.data()) + at, piece);
        }
        UnpackResult fromStream = streaming.Finish();

        EXPECT_EQ(fromStream.ok, fromFile.ok) << name;
        EXPECT_EQ(fromStream.stage, fromFile.stage) << name;
        EXPECT_EQ(fromStream.reason, fromFile.reason) << name;
        // Bytes after the member are passed over, and said to be, as gzip -d says.
        const bool trailing = name == "trailing bytes" || name == "one trailing byte";
        EXPECT_EQ(fromFile.trailingIgnored, trailing) << name;
        EXPECT_EQ(fromStream.trailingIgnored, trailing) << name;
        EXPECT_EQ(ReadFile(work / ("stream/" + name)), ReadFile(work / ("file/" + name))) << name;
    }
    EXPECT_EQ(ReadFile(work / "stream/gzip"), content);
    EXPECT_EQ(ReadFile(work / "stream/two members"), "first\nsecond\n");
    EXPECT_EQ(FilesIn(work / "stream"), FilesIn(work / "file"));
}

TEST(StreamingUnpack, LeavesNothingWhenAbandonedOrRefused) {
    TempDir work;
    const std::string packed = Gzip(Pattern(3000000));
    const auto* bytes = reinterpret_cast<const uint8_t*>(packed.data());
    std::filesystem::create_directory(work / "out");
    {
        // Checks that fail after half the file: the caller just leaves.
        StreamingUnpack streaming;
        ASSERT_TRUE(streaming.Start((work / "out/dropped").c_str()));
        streaming.Feed(bytes, packed.size() / 2);
    }
    StreamingUnpack abandoned;
    ASSERT_TRUE(abandoned.Start((work / "out/abandoned").c_str()));
    abandoned.Feed(bytes, packed.size());
    abandoned.Abandon();
    EXPECT_EQ(FilesIn(work / "out"), 0u);

    // An existing destination: not started, so the caller's UnpackFile names the cause.
    WriteFile(work / "out/existing", "old");
    StreamingUnpack refused;
    EXPECT_FALSE(refused.Start((work / "out/existing").c_str()));
    EXPECT_FALSE(refused.Start((work / "no/such/folder/x").c_str()));
    // One that appears while the download runs is not replaced either.
    StreamingUnpack overtaken;
    ASSERT_TRUE(overtaken.Start((work / "out/late").c_str()));
    overtaken.Feed(bytes, packed.size());
    WriteFile(work / "out/late", "someone else's");
    UnpackResult result = overtaken.Finish();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.stage, UnpackResult::CREATE_OUTPUT);
    EXPECT_EQ(result.reason, "File exists");
    EXPECT_EQ(ReadFile(work / "out/late"), "someone else's");
    EXPECT_EQ(FilesIn(work / "out"), 2u);
}

// The file under way has no name, so the destination's folder shows nothing until the
// checks pass; where unnamed files cannot be made, a hidden file does the same work.
// Either way the result has a new file's permissions and never replaces a name.
TEST(StreamingUnpack, UnnamedWhileUnderWayHiddenOnlyAsFallback) {
    TempDir work;
    const std::string content = Pattern(3000000);
    const std::string packed = Gzip(content);
    const auto* bytes = reinterpret_cast<const uint8_t*>(packed.data());
    const mode_t mask = umask(0);
    umask(mask);
    for (bool hidden : {false, true}) {
        UseHiddenPartialFiles(hidden);
        const std::string folder = work / (hidden ? "hidden" : "unnamed");
        std::filesystem::create_directory(folder);
        StreamingUnpack streaming;
        ASSERT_TRUE(streaming.Start((folder + "/done").c_str()));
        streaming.Feed(bytes, packed.size() / 2);
        EXPECT_EQ(FilesIn(folder), hidden ? 1u : 0u) << folder;
        streaming.Feed(bytes + packed.size() / 2, packed.size() - packed.size() / 2);
        ASSERT_TRUE(streaming.Finish().ok) << folder;
        EXPECT_EQ(ReadFile(folder + "/done"), content);
        struct stat status;
        ASSERT_EQ(stat((folder + "/done").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask) << folder;

        StreamingUnpack overtaken;
        ASSERT_TRUE(overtaken.Start((folder + "/late").c_str()));
        overtaken.Feed(bytes, packed.size());
        WriteFile(folder + "/late", "someone else's");
        UnpackResult result = overtaken.Finish();
        EXPECT_EQ(result.reason, "File exists") << folder;
        EXPECT_EQ(ReadFile(folder + "/late"), "someone else's");

        WriteFile(work / "truncated", packed.substr(0, packed.size() / 2));
        EXPECT_FALSE(UnpackFile((work / "truncated").c_str(), (folder + "/short").c_str()).ok);
        EXPECT_EQ(FilesIn(folder), 2u) << folder;  // done and late only
    }
    UseHiddenPartialFiles(false);
}

// A run killed outright in the middle of unpacking leaves nothing beside the destination.
TEST(StreamingUnpack, AKilledRunLeavesNothing) {
    TempDir work;
    const std::string packed = Gzip(Pattern(3000000));
    const std::string folder = work / "out";
    std::filesystem::create_directory(folder);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        StreamingUnpack streaming;
        if (!streaming.Start((folder + "/killed").c_str())) _exit(1);
        streaming.Feed(reinterpret_cast<const uint8_t*>(packed.data()), packed.size() / 2);
        raise(SIGKILL);
        _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(FilesIn(folder), 0u);
}

TEST(Destination, OutputNameStoredNameAndStripPath) {
    const struct {
        const char* output;
        const char* stored;
        int strip;
        const char* path;  // none: refused
    } cases[] = {
        {"chosen.dat", "../../etc/passwd", 0, "chosen.dat"},  // -o wins whatever is stored
        {"", "reports/2026\\q4\\sales.csv", 1, "sales.csv"},
        {"", "reports/2026\\q4\\sales.csv", 0, "reports/2026/q4/sales.csv"},
        {"", "plain.txt", 1, "plain.txt"},
        {"", "plain.txt", 0, "plain.txt"},
        {"", "a/../b", 0, nullptr},
        {"", "..\\up.txt", 0, nullptr},
        {"", "/etc/passwd", 0, nullptr},
        {"", "\\\\server\\share\\x", 0, nullptr},
        {"", "..", 1, nullptr},
        {"", "folder/", 1, nullptr},
        {"", "../../evil.txt", 1, "evil.txt"},  // stripped: only the final name is used
        {"", "a/..b/c..", 0, "a/..b/c.."},      // dots inside names are no parent reference
    };
    for (const auto& c : cases) {
        Destination destination = ChooseDestination(c.output, c.stored, 256, c.strip);
        if (c.path == nullptr) {
            EXPECT_NE(destination.refusal, nullptr) << c.stored;
        } else {
            EXPECT_EQ(destination.refusal, nullptr) << c.stored;
            EXPECT_STREQ(destination.path, c.path);
        }
    }
    char full[256];
    memset(full, 'n', sizeof full);  // all 256 bytes used: no terminator
    Destination destination = ChooseDestination("", full, sizeof full, 0);
    EXPECT_EQ(strlen(destination.path), 256u);
}

}  // namespace
