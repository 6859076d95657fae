// Unpacking and the choice of destination: complete files or none, never a replaced one.
#include "download/unpack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <string>

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
