// The platform layer's pure parts: crash file names, processor words, I/O accounting text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/crash.h"
#include "platform/new_file.h"
#include "platform/process_io.h"
#include "platform/system_info.h"
#include "platform/terminal.h"
#include "platform/whole_file.h"
#include "platform/unique_fd.h"

namespace {

TEST(CrashFileName, YearDayOfYearAndProcess) {
    const struct {
        long long now;
        long offset;
        const char* name;
    } cases[] = {
        {0, 0, "XNP10-1970-0-42.dmp"},
        {951782400, 0, "XNP10-2000-59-42.dmp"},     // 2000-02-29, a leap day
        {1798761599, 0, "XNP10-2026-364-42.dmp"},   // 2026-12-31 23:59:59 UTC
        {1798761599, 3600, "XNP10-2027-0-42.dmp"},  // an hour east it is already next year
        {0, -3600, "XNP10-1969-364-42.dmp"},
    };
    for (const auto& c : cases) {
        char name[64];
        Platform_CrashFileName(name, sizeof name, "XNP10", c.now, c.offset, 42);
        EXPECT_STREQ(name, c.name) << c.now;
    }
    char tiny[8];
    EXPECT_EQ(Platform_CrashFileName(tiny, sizeof tiny, "XNP10", 0, 0, 42), 7);
}

TEST(ProcessorText, KnownMachinesGetTheirWords) {
    EXPECT_STREQ(Platform_ProcessorText("x86_64"), "x64");
    EXPECT_STREQ(Platform_ProcessorText("i686"), "i686");
    EXPECT_STREQ(Platform_ProcessorText("ppc64le"), "ppc");
    EXPECT_STREQ(Platform_ProcessorText("aarch64"), "aarch64");
    PlatformDescription description;
    EXPECT_EQ(DescribePlatform(&description), 0);
    EXPECT_STREQ(description.systemName, "Linux");
    EXPECT_NE(description.versionText[0], 0);
}

TEST(ProcessIo, ParsesTheCountersAndRefusesPartialText) {
    ProcessIo io{};
    ASSERT_TRUE(Platform_ParseProcessIo(
        "rchar: 1000\nwchar: 2000\nsyscr: 3\nsyscw: 4\nread_bytes: 0\n", &io));
    EXPECT_EQ(io.readBytes, 1000u);
    EXPECT_EQ(io.writeBytes, 2000u);
    EXPECT_EQ(io.readOperations, 3u);
    EXPECT_EQ(io.writeOperations, 4u);
    EXPECT_FALSE(Platform_ParseProcessIo("rchar: 1\nwchar: 2\n", &io));
    EXPECT_TRUE(Platform_ReadProcessIo(&io));
}

TEST(Terminal, LevelAttributesBecomeAnsiColours) {
    EXPECT_STREQ(Platform_TextAttributeSequence(4), "\x1b[31m");  // errors red
    EXPECT_STREQ(Platform_TextAttributeSequence(8), "\x1b[2m");   // warnings and notices dim
    EXPECT_STREQ(Platform_TextAttributeSequence(2), "\x1b[32m");  // info green
    EXPECT_STREQ(Platform_TextAttributeSequence(1), "\x1b[34m");  // debug blue
}

// Each call makes a file that did not exist: the taken name gets "-1", "-2" before its
// extension, and a name held by a symbolic link is left alone as if it were taken.
TEST(CreateNewFile, NumberedNamesAndNoLinks) {
    char folder[] = "/tmp/zymb-newfile-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string base = std::string(folder) + "/log.txt";
    ASSERT_EQ(symlink("/etc/passwd", base.c_str()), 0);
    const char* expected[] = {"/log-1.txt", "/log-2.txt", "/log-3.txt"};
    for (const char* name : expected) {
        char path[4096];
        snprintf(path, sizeof path, "%s", base.c_str());
        int fd = Platform_CreateNewFile(path, sizeof path, 0640);
        ASSERT_GE(fd, 0);
        close(fd);
        EXPECT_EQ(std::string(path), std::string(folder) + name);
        struct stat status;
        ASSERT_EQ(lstat(path, &status), 0);
        EXPECT_TRUE(S_ISREG(status.st_mode));
        EXPECT_EQ(status.st_mode & 0777, 0640u);
    }
    // A name without an extension (or a leading-dot one) takes the number at its end.
    for (const char* name : {"/plain", "/.hidden"}) {
        char path[4096];
        for (int round = 0; round < 2; ++round) {
            snprintf(path, sizeof path, "%s%s", folder, name);
            int fd = Platform_CreateNewFile(path, sizeof path, 0600);
            ASSERT_GE(fd, 0);
            close(fd);
        }
        EXPECT_EQ(std::string(path), std::string(folder) + name + "-1");
    }
    char tooSmall[] = "/tmp";  // exists, and a numbered name does not fit in the buffer
    EXPECT_EQ(Platform_CreateNewFile(tooSmall, sizeof tooSmall, 0600), -1);
    EXPECT_STREQ(tooSmall, "/tmp");
    std::string command = std::string("rm -rf ") + folder;
    EXPECT_EQ(system(command.c_str()), 0);
}

// A scratch folder for the replacement tests, removed at the end.
class ReplaceFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = std::string(Platform_TemporaryFolder()) + "/replace-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + folder_ + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    std::string Path(const std::string& name) const { return folder_ + "/" + name; }
    static std::string Content(const std::string& path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static mode_t Mode(const std::string& path) {
        struct stat status {};
        stat(path.c_str(), &status);
        return status.st_mode & 07777;
    }
    // Names in the folder other than the given ones: a side file left behind.
    std::string Others(std::initializer_list<std::string> expected) const {
        std::string command = "ls -A '" + folder_ + "'";
        std::string left;
        FILE* listing = popen(command.c_str(), "r");
        char line[512];
        while (listing != nullptr && fgets(line, sizeof line, listing) != nullptr) {
            std::string name(line, strcspn(line, "\n"));
            bool known = false;
            for (const std::string& each : expected) known = known || each == name;
            if (!known) left += name + " ";
        }
        if (listing != nullptr) pclose(listing);
        return left;
    }
    std::string folder_;
};

TEST_F(ReplaceFile, NewFileGetsTheUmaskModeAndExistingKeepsItsMode) {
    const mode_t mask = umask(022);
    EXPECT_EQ(Platform_ReplaceFile(Path("new").c_str(), "one", 3), 0);
    EXPECT_EQ(Content(Path("new")), "one");
    EXPECT_EQ(Mode(Path("new")), 0644u);
    ASSERT_EQ(chmod(Path("new").c_str(), 0600), 0);
    EXPECT_EQ(Platform_ReplaceFile(Path("new").c_str(), "two", 3), 0);
    EXPECT_EQ(Content(Path("new")), "two");
    EXPECT_EQ(Mode(Path("new")), 0600u);
    umask(mask);
    EXPECT_EQ(Others({"new"}), "");
}

TEST_F(ReplaceFile, SymbolicLinksAreWrittenThroughAndStay) {
    ASSERT_EQ(mkdir(Path("real").c_str(), 0700), 0);
    std::ofstream(Path("real/target")) << "old";
    ASSERT_EQ(chmod(Path("real/target").c_str(), 0640), 0);
    // A relative link to a relative link: each resolves against its own folder.
    ASSERT_EQ(symlink("real/target", Path("hop").c_str()), 0);
    ASSERT_EQ(mkdir(Path("links").c_str(), 0700), 0);
    ASSERT_EQ(symlink("../hop", Path("links/first").c_str()), 0);
    EXPECT_EQ(Platform_ReplaceFile(Path("links/first").c_str(), "new", 3), 0);
    struct stat status {};
    ASSERT_EQ(lstat(Path("links/first").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    ASSERT_EQ(lstat(Path("hop").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(Content(Path("real/target")), "new");
    EXPECT_EQ(Mode(Path("real/target")), 0640u);
    // A link whose file does not exist yet: the file is created where it points.
    ASSERT_EQ(symlink("real/later", Path("dangling").c_str()), 0);
    EXPECT_EQ(Platform_ReplaceFile(Path("dangling").c_str(), "made", 4), 0);
    EXPECT_EQ(Content(Path("real/later")), "made");
    // A loop of links is refused, with nothing written.
    ASSERT_EQ(symlink("loop-b", Path("loop-a").c_str()), 0);
    ASSERT_EQ(symlink("loop-a", Path("loop-b").c_str()), 0);
    ReplaceStage stage;
    EXPECT_EQ(Platform_ReplaceFile(Path("loop-a").c_str(), "x", 1, &stage), ELOOP);
    EXPECT_EQ(stage, ReplaceStage::CREATE);
    EXPECT_EQ(Others({"real", "hop", "links", "dangling", "loop-a", "loop-b"}), "");
}

TEST_F(ReplaceFile, FailuresLeaveTheOldFileAndNoSideFile) {
    std::ofstream(Path("kept")) << "old";
    ReplaceStage stage;
    const int result = Platform_ReplaceFile(
        Path("kept").c_str(),
        [](int fd) {
            if (write(fd, "half", 4) != 4) return false;
            errno = ENOSPC;
            return false;
        },
        &stage);
    EXPECT_EQ(result, ENOSPC);
    EXPECT_EQ(stage, ReplaceStage::WRITE);
    EXPECT_EQ(Content(Path("kept")), "old");
    // A folder that does not exist, and a destination that is a folder.
    EXPECT_EQ(Platform_ReplaceFile(Path("none/file").c_str(), "x", 1, &stage), ENOENT);
    EXPECT_EQ(stage, ReplaceStage::CREATE);
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0700), 0);
    EXPECT_NE(Platform_ReplaceFile(Path("folder").c_str(), "x", 1, &stage), 0);
    EXPECT_EQ(stage, ReplaceStage::NAME);
    EXPECT_EQ(Others({"kept", "folder"}), "");
}

TEST(TemporaryFolder, TmpdirElseTmp) {
    const char* saved = getenv("TMPDIR");
    const std::string kept = saved != nullptr ? saved : "";
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_STREQ(Platform_TemporaryFolder(), "/var/tmp");
    setenv("TMPDIR", "", 1);
    EXPECT_STREQ(Platform_TemporaryFolder(), "/tmp");
    unsetenv("TMPDIR");
    EXPECT_STREQ(Platform_TemporaryFolder(), "/tmp");
    if (saved != nullptr) setenv("TMPDIR", kept.c_str(), 1);
}

}  // namespace

TEST(UniqueFd, ClosesOnResetOnMoveAndAtTheEndButNotAfterRelease) {
    auto isOpen = [](int fd) { return fcntl(fd, F_GETFD) != -1; };
    UniqueFd readEnd, writeEnd;
    ASSERT_TRUE(MakeOwnedPipe(&readEnd, &writeEnd));
    int first = readEnd.Get();
    EXPECT_TRUE(fcntl(first, F_GETFD) & FD_CLOEXEC);
    {
        UniqueFd moved(std::move(readEnd));
        EXPECT_FALSE(readEnd.IsOpen());
        EXPECT_TRUE(isOpen(first));
    }
    EXPECT_FALSE(isOpen(first));  // the moved-to owner closed it
    int second = writeEnd.Get();
    int kept = writeEnd.Release();
    writeEnd.Reset(dup(kept));
    EXPECT_TRUE(isOpen(second));
    close(kept);
    int third = writeEnd.Get();
    writeEnd.Reset();
    EXPECT_FALSE(isOpen(third));
}
