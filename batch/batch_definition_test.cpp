// .cvbatch files: the fresh layout, round trips, unknown and mistyped settings, read
// failures and CR LF files.
#include "batch/batch_definition.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr const char* kFresh =
    "options : \n"
    "{\n"
    "  program = \"\";\n"
    "  arguments = \"\";\n"
    "  working_directory = \"\";\n"
    "  environment = \"\";\n"
    "  stdin = \"\";\n"
    "};\n";

BatchFields SampleFields() {
    return {"/usr/bin/printf", "\"%s\\n\" \"a \\\"quoted\\\" word\"", "C:\\work\\$OUT",
            "A=1;B=two words", "in\tput.txt"};
}

TEST(BatchDefinition, FreshDefinitionSavesTheFiveEmptySettingsInOrder) {
    TempDir dir;
    BatchDefinition definition;
    ASSERT_TRUE(definition.Write((dir / "fresh.cvbatch").c_str()));
    EXPECT_EQ(ReadFile(dir / "fresh.cvbatch"), kFresh);
}

TEST(BatchDefinition, QuotesBackslashesAndTabsReadBackIdentically) {
    TempDir dir;
    BatchDefinition definition;
    definition.CopyIntoTree(SampleFields());
    ASSERT_TRUE(definition.Write((dir / "a.cvbatch").c_str()));

    BatchDefinition other;
    BatchReadResult read = other.Read((dir / "a.cvbatch").c_str());
    ASSERT_TRUE(read.ok) << read.errorText;
    BatchFields expected = SampleFields();
    EXPECT_EQ(read.program, expected.program);
    EXPECT_EQ(read.arguments, expected.arguments);
    EXPECT_EQ(read.workingDirectory, expected.workingDirectory);
    EXPECT_EQ(read.environment, expected.environment);
    EXPECT_EQ(read.stdinFile, expected.stdinFile);
}

TEST(BatchDefinition, OnlyProgramFileKeepsItsShapeAndUnknownSettings) {
    TempDir dir;
    WriteFile(dir / "only.cvbatch",
              "# made by hand\noptions = { program = \"env\"; };\nschedule = { hour = 3; };\n");
    BatchDefinition definition;
    BatchReadResult read = definition.Read((dir / "only.cvbatch").c_str());
    ASSERT_TRUE(read.ok) << read.errorText;
    EXPECT_EQ(read.program, "env");
    EXPECT_FALSE(read.arguments || read.workingDirectory || read.environment || read.stdinFile);

    definition.CopyIntoTree({"printenv", "PATH", "/tmp", "X=1", "in.txt"});
    ASSERT_TRUE(definition.Write((dir / "saved.cvbatch").c_str()));
    EXPECT_EQ(ReadFile(dir / "saved.cvbatch"),
              "options : \n{\n  program = \"printenv\";\n};\nschedule : \n{\n  hour = 3;\n};\n");
}

TEST(BatchDefinition, IntegerProgramReadsAsAbsentAndIsKept) {
    TempDir dir;
    WriteFile(dir / "int.cvbatch", "options = { program = 5; arguments = \"-l\"; };\n");
    BatchDefinition definition;
    BatchReadResult read = definition.Read((dir / "int.cvbatch").c_str());
    ASSERT_TRUE(read.ok) << read.errorText;
    EXPECT_FALSE(read.program.has_value());
    EXPECT_EQ(read.arguments, "-l");
    definition.CopyIntoTree({"ls", "-a", "", "", ""});
    ASSERT_TRUE(definition.Write((dir / "out.cvbatch").c_str()));
    EXPECT_EQ(ReadFile(dir / "out.cvbatch"),
              "options : \n{\n  program = 5;\n  arguments = \"-a\";\n};\n");
}

TEST(BatchDefinition, SyntaxErrorGivesReaderTextAndLineAndKeepsSettingsBeforeIt) {
    TempDir dir;
    WriteFile(dir / "bad.cvbatch",
              "first = \"kept\";\n\n\n\n\n\nsecond = = 1;\nthird = \"lost\";\n");
    BatchDefinition definition;
    BatchReadResult read = definition.Read((dir / "bad.cvbatch").c_str());
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.errorLine, 7);
    EXPECT_FALSE(read.errorText.empty());
    ASSERT_TRUE(definition.Write((dir / "after.cvbatch").c_str()));
    std::string after = ReadFile(dir / "after.cvbatch");
    EXPECT_EQ(after.find("third"), std::string::npos) << after;
    EXPECT_EQ(after.find("options"), std::string::npos) << after;
}

TEST(BatchDefinition, FileThatCannotBeOpenedOrIsAFolderLeavesTheTree) {
    TempDir dir;
    BatchDefinition definition;
    definition.CopyIntoTree({"kept", "", "", "", ""});
    for (std::string path : {dir / "missing.cvbatch", dir.Path()}) {
        BatchReadResult read = definition.Read(path.c_str());
        EXPECT_FALSE(read.ok) << path;
        EXPECT_FALSE(read.errorText.empty());
        EXPECT_EQ(read.errorLine, 0);
    }
    ASSERT_TRUE(definition.Write((dir / "still.cvbatch").c_str()));
    EXPECT_NE(ReadFile(dir / "still.cvbatch").find("program = \"kept\";"), std::string::npos);
}

// The window asks for regular files only: a FIFO with no writer is refused at once instead
// of blocking the window until someone writes to it.
TEST(BatchDefinition, ARegularFileOnlyReadRefusesAFifoWithoutWaiting) {
    TempDir dir;
    std::string fifo = dir / "job.cvbatch";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    BatchDefinition definition;
    BatchReadResult read = definition.Read(fifo.c_str(), true);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.errorText, "not a regular file");

    WriteFile(dir / "plain.cvbatch", "options = { program = \"true\"; };\n");
    EXPECT_TRUE(definition.Read((dir / "plain.cvbatch").c_str(), true).ok);
}

TEST(BatchDefinition, CrLfFileReadsAsTheLfFile) {
    TempDir dir;
    std::string text = kFresh;
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    crlf.replace(crlf.find("program = \"\""), 12, "program = \"cat\"");
    WriteFile(dir / "crlf.cvbatch", crlf);
    BatchDefinition definition;
    BatchReadResult read = definition.Read((dir / "crlf.cvbatch").c_str());
    ASSERT_TRUE(read.ok) << read.errorText << " line " << read.errorLine;
    EXPECT_EQ(read.program, "cat");
    EXPECT_EQ(read.stdinFile, "");
}

TEST(BatchDefinition, FailedSaveReportsWhyAndLeavesNothingBehind) {
    TempDir dir;
    BatchDefinition definition;
    std::string reason;
    EXPECT_FALSE(definition.Write((dir / "no/such/folder/x.cvbatch").c_str(), &reason));
    EXPECT_FALSE(reason.empty());
    // The final rename fails (a folder holds the name): the file written beside it goes.
    std::filesystem::create_directory(dir / "taken.cvbatch");
    WriteFile(dir / "taken.cvbatch/inside", "x");
    reason.clear();
    EXPECT_FALSE(definition.Write((dir / "taken.cvbatch").c_str(), &reason));
    EXPECT_FALSE(reason.empty());
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        ++entries;
        EXPECT_EQ(entry.path().filename(), "taken.cvbatch");
    }
    EXPECT_EQ(entries, 1);
}

// A private definition stays private, and one reached through a link is saved where the
// link points, the link kept.
TEST(BatchDefinition, SaveKeepsTheModeAndWritesThroughALink) {
    TempDir dir;
    BatchDefinition definition;
    ASSERT_TRUE(definition.Write((dir / "private.cvbatch").c_str()));
    ASSERT_EQ(chmod((dir / "private.cvbatch").c_str(), 0600), 0);
    ASSERT_TRUE(definition.Write((dir / "private.cvbatch").c_str()));
    struct stat status {};
    ASSERT_EQ(stat((dir / "private.cvbatch").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    std::filesystem::create_directory(dir / "kept");
    ASSERT_TRUE(definition.Write((dir / "kept/real.cvbatch").c_str()));
    std::filesystem::create_symlink("kept/real.cvbatch", dir / "link.cvbatch");
    BatchFields fields = SampleFields();
    definition.CopyIntoTree(fields);
    ASSERT_TRUE(definition.Write((dir / "link.cvbatch").c_str()));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.cvbatch"));
    BatchDefinition reread;
    BatchReadResult read = reread.Read((dir / "kept/real.cvbatch").c_str());
    ASSERT_TRUE(read.ok) << read.errorText;
    EXPECT_EQ(read.program, fields.program);
}

TEST(BatchDefinition, WritesIntoAnOpenLogStream) {
    BatchDefinition definition;
    char* text = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&text, &size);
    fputs("before\n", stream);
    definition.WriteToLog(stream);
    fclose(stream);
    EXPECT_EQ(std::string(text, size), std::string("before\n") + kFresh);
    free(text);
}

}  // namespace
