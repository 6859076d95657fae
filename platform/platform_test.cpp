// The platform layer's pure parts: crash file names, processor words, I/O accounting text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/crash.h"
#include "platform/new_file.h"
#include "platform/process_io.h"
#include "platform/system_info.h"
#include "platform/terminal.h"
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
