// Argument intake through a real context: command line, argument files, checks, listing,
// and a CGI form from the environment.
#include "frame/arguments.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/captured_context.h"
#include "frame/server_address.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

int RejectBad(OptionValidator*, const char* value) {
    return strcmp(value, "bad") != 0;
}

class Intake : public testing::Test {
  protected:
    Intake() {
        InitServerAddress(&address_, "batch", "", "127.0.0.1", "5000");
        validator_.check = RejectBad;
    }
    ~Intake() override {
        for (OptionEntry& row : rows_)
            if ((row.flags & OPT_ALLOCATED) != 0) free(const_cast<char*>(*row.value));
    }

    // Runs the intake over a command line (the program name is added in front).
    std::vector<std::string> Run(const std::vector<std::string>& arguments) {
        arguments_ = arguments;
        arguments_.insert(arguments_.begin(), "intake_test");
        argv_.clear();
        for (std::string& argument : arguments_) argv_.push_back(argument.data());
        argv_.push_back(nullptr);
        log_.context.options = rows_;
        log_.context.argc = static_cast<int32_t>(arguments_.size());
        log_.context.argv = argv_.data();
        EXPECT_EQ(ReadArguments(&log_.context), 1);
        return log_.Entries();
    }

    std::string WriteTemp(const std::string& name, const std::string& content) {
        std::string path = dir_ / name;
        WriteFile(path, content);
        return path;
    }

    bool Contains(const std::vector<std::string>& entries, const std::string& entry) {
        for (const std::string& e : entries)
            if (e == entry) return true;
        return false;
    }

    CapturedContext log_;
    TempDir dir_;
    const char* customer_ = "";
    const char* filter_ = "";
    const char* file_ = "";
    const char* directory_ = "";
    const char* server_ = "batch@127.0.0.1:5000";
    const char* checked_ = "";
    int32_t list_ = 0;
    ServerAddress address_;
    OptionValidator validator_{};
    OptionEntry rows_[8] = {
        {.letter = 'f',
         .description = "File Name Filter",
         .value = &filter_,
         .flags = OPT_REQUIRED},
        {.letter = 'C', .description = "Customer-ID", .value = &customer_, .flags = OPT_REQUIRED},
        {.letter = 'v',
         .description = "Checked Value",
         .value = &checked_,
         .flags = OPT_VALIDATE,
         .target = &validator_},
        {.letter = 'l', .description = "List Files", .target = &list_},
        {.letter = 'F', .description = "Input File", .value = &file_, .flags = OPT_FILE},
        {.letter = 'D',
         .description = "Work Directory",
         .value = &directory_,
         .flags = OPT_DIRECTORY},
        {.letter = 'S',
         .description = "Server",
         .value = &server_,
         .flags = OPT_SERVER,
         .target = &address_},
        {.letter = 0},
    };

  private:
    std::vector<std::string> arguments_;
    std::vector<char*> argv_;
};

TEST_F(Intake, CommandLineStoresValuesAndListsThemSorted) {
    auto entries =
        Run({"-C", "ABCD", "-f", "*.dat", "-S", "user:-secret@host:6000", "-l", "-l", "operand"});
    std::vector<std::string> expected = {
        "000N Parsing and validating command arguments",
        "001N Server Interpreted as: Server(host) Port(6000) User(user) Password(******)",
        "002N Program Options:",
        "002N \t(C) Customer-ID=ABCD",
        "002N \t(D) Work Directory=",
        "002N \t(F) Input File=",
        "002N \t(S) Server=<VALUE HIDDEN>",
        "002N \t(f) File Name Filter=*.dat",
        "002N \t(l) List Files=true",
        "002N \t(v) Checked Value=",
        "000N Arguments parsed and validated with 0 errors",
    };
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(log_.context.errorCount, 0u);
    EXPECT_EQ(log_.context.optionCount, 7);
    EXPECT_STREQ(customer_, "ABCD");
    EXPECT_EQ(list_, 1);
    EXPECT_STREQ(address_.host.c_str(), "host");
    EXPECT_EQ(IsOptionSet('l'), 1);
    EXPECT_EQ(IsOptionSet('C'), 0);  // a value row, never "set"
    EXPECT_EQ(IsOptionSet('x'), 0);
    EXPECT_EQ(log_.Raw().find("secret"), std::string::npos);
}

TEST_F(Intake, OptionsMayFollowOperandsAndUnknownOnesDoNotCount) {
    Run({"first", "-x", "-C", "ABCD", "second", "-f", "a"});
    EXPECT_EQ(log_.context.errorCount, 0u);
    EXPECT_STREQ(customer_, "ABCD");
    EXPECT_STREQ(filter_, "a");
}

TEST_F(Intake, BlankRequiredValuesAreCounted) {
    auto entries = Run({"-C", "", "-f", " \t "});
    EXPECT_EQ(log_.context.errorCount, 2u);
    EXPECT_TRUE(Contains(entries, "000E Value for argument -C is blank and a value is required"));
    EXPECT_TRUE(Contains(entries, "000E Value for argument -f is blank and a value is required"));
    EXPECT_TRUE(Contains(entries, "002E \t(C) Customer-ID="));
    EXPECT_TRUE(Contains(entries, "000E Arguments parsed and validated with 2 errors"));
}

TEST_F(Intake, PathChecksCountEachBadOccurrence) {
    std::string plain = WriteTemp("plain.txt", "x");
    auto entries = Run({"-C", "A", "-f", "b", "-F", "/no/such/1", "-F", "/no/such/2", "-D", plain,
                        "-D", dir_.Path()});
    // Two bad files, a file named as a directory, and the error staying on the row for the
    // good directory that followed it.
    EXPECT_EQ(log_.context.errorCount, 4u);
    int fileErrors = 0;
    for (const auto& e : entries) fileErrors += e == "000E Argument -F is not a valid file";
    EXPECT_EQ(fileErrors, 2);
    EXPECT_TRUE(Contains(entries, "000E Argument -D is not a valid directory"));
    bool spaceLine = false;
    const std::string head = "000I The Directory in argument -D has ";
    for (const auto& e : entries)
        spaceLine = spaceLine || (e.starts_with(head) && e.ends_with(" available") &&
                                  e.find_first_of("0123456789", head.size()) == head.size());
    EXPECT_TRUE(spaceLine);
}

TEST_F(Intake, ExistingPathsPass) {
    std::string plain = WriteTemp("plain.txt", "x");
    Run({"-C", "A", "-f", "b", "-F", plain, "-D", dir_.Path()});
    EXPECT_EQ(log_.context.errorCount, 0u);
    EXPECT_EQ(std::string(file_), plain);
}

TEST_F(Intake, ValidatorRejectsAndMarksEmptyValues) {
    auto entries = Run({"-C", "A", "-f", "b", "-v", "bad"});
    EXPECT_EQ(log_.context.errorCount, 1u);
    EXPECT_TRUE(Contains(entries, "002E \t(v) Checked Value=bad"));
    EXPECT_EQ(validator_.flags & 1, 0u);
}

TEST_F(Intake, ValidatorFlagsAnEmptyValue) {
    Run({"-C", "A", "-f", "b", "-v", ""});
    EXPECT_EQ(log_.context.errorCount, 0u);
    EXPECT_EQ(validator_.flags & 1, 1u);
}

TEST_F(Intake, VeryLongValuesAreKeptWhole) {
    std::string longValue(5000, 'z');
    Run({"-C", longValue, "-f", "b", "-S", std::string(2000, ':') + "@" + std::string(2000, '@')});
    EXPECT_EQ(std::string(customer_), longValue);
    EXPECT_EQ(log_.context.errorCount, 0u);
}

TEST_F(Intake, ArgumentFilesLoadTheirFirstLineTrimmed) {
    std::string customer = WriteTemp("customer", " \t ABCD  \r\nsecond line\n");
    std::string server = WriteTemp("server", "user:-s3cr3t@filehost:7000\n");
    std::string plain = WriteTemp("plain.txt", "x");
    std::string file = WriteTemp("file", plain + "\n");
    auto entries =
        Run({"-C", "*FI:" + customer, "-f", "b", "-S", "*FI:" + server, "-F", "*FI:" + file});
    EXPECT_STREQ(customer_, "ABCD");
    EXPECT_GE(customer_, log_.context.argumentPool);
    EXPECT_LT(customer_, log_.context.argumentPool + sizeof log_.context.argumentPool);
    // The loaded texts are what the checks see: the server string is parsed and its
    // literal password hidden, the path is checked as the path it names.
    EXPECT_STREQ(address_.host.c_str(), "filehost");
    EXPECT_STREQ(address_.port.c_str(), "7000");
    EXPECT_EQ(std::string(file_), plain);
    EXPECT_TRUE(Contains(entries, "002N \t(S) Server=<VALUE HIDDEN>"));
    EXPECT_EQ(log_.context.errorCount, 0u);
    EXPECT_EQ(log_.Raw().find("s3cr3t"), std::string::npos);
}

TEST_F(Intake, ArgumentFilesThatGiveNothingAreErrors) {
    std::string empty = WriteTemp("empty", "");
    auto entries =
        Run({"-C", "*FI:/no/such/file", "-f", "*FI:" + empty, "-v", "*FI:" + dir_.Path()});
    EXPECT_TRUE(Contains(entries, "000E Load of argument -C from file /no/such/file failed"));
    EXPECT_TRUE(Contains(entries, "000E Load of argument -f from file " + empty + " failed"));
    EXPECT_TRUE(Contains(entries, "000E Load of argument -v from file " + dir_.Path() + " failed"));
    EXPECT_EQ(log_.context.errorCount, 3u);
}

TEST_F(Intake, PoolOverflowAfter512Bytes) {
    // Lines are cut at 255 characters: two fill the pool exactly, the third overflows.
    std::string a = WriteTemp("a", std::string(300, 'a') + "\n");
    std::string b = WriteTemp("b", std::string(300, 'b') + "\n");
    std::string c = WriteTemp("c", std::string(300, 'c') + "\n");
    auto entries = Run({"-C", "*FI:" + a, "-f", "*FI:" + b, "-v", "*FI:" + c});
    EXPECT_EQ(std::string(customer_), std::string(255, 'a'));
    EXPECT_EQ(std::string(filter_), std::string(255, 'b'));
    EXPECT_TRUE(Contains(entries, "000E Dynamic load length overflow"));
    EXPECT_TRUE(Contains(entries, "002E \t(v) Checked Value=*FI:" + c));
    EXPECT_EQ(log_.context.errorCount, 1u);
}

TEST_F(Intake, OptionStringFollowsTheDeclaredOrder) {
    char text[OPTION_STRING_SIZE];
    EXPECT_EQ(BuildOptionString(rows_, text, sizeof text), 7);
    EXPECT_STREQ(text, "f:C:v:lF:D:S:");
    char small[6];
    EXPECT_EQ(BuildOptionString(rows_, small, sizeof small), 7);
    EXPECT_STREQ(small, "f:C:");  // cut where a letter no longer fits; nothing after it
}

TEST_F(Intake, NoTableNoIntake) {
    log_.context.options = nullptr;
    EXPECT_EQ(ReadArguments(&log_.context), 0);
    EXPECT_TRUE(log_.Raw().empty());
}

class CgiIntake : public Intake {
  protected:
    void SetUp() override {
        setenv("REQUEST_URI", "/cgi-bin/intake", 1);
        setenv("REQUEST_METHOD", "GET", 1);
    }
    void TearDown() override {
        for (const char* name : {"REQUEST_URI", "REQUEST_METHOD", "QUERY_STRING"}) unsetenv(name);
    }
};

TEST_F(CgiIntake, FormVariablesFeedTheRowsOfTheirLetter) {
    setenv("QUERY_STRING", "c=ABCD&c=later&f=%252A.dat&F=other&l=yes&S=u%3A-s3cr3t%40h%3A1&v=", 1);
    auto entries = Run({"-C", "ignored"});
    EXPECT_NE(log_.context.flags & CTX_CGI, 0u);
    EXPECT_EQ(entries.front(), "000N Parsing and validating CGI arguments");
    EXPECT_STREQ(customer_, "ABCD");  // "c" feeds C; the first occurrence wins
    EXPECT_STREQ(filter_, "*.dat");   // decoded by cgicc, then once more
    EXPECT_STREQ(file_, "*.dat");     // F and f both take the first "f" or "F"
    EXPECT_EQ(list_, 1);
    EXPECT_STREQ(checked_, "");  // an empty value is not taken
    EXPECT_EQ(FindOption(&log_.context, 'C')->flags & OPT_ALLOCATED, OPT_ALLOCATED);
    EXPECT_EQ(FindOption(&log_.context, 'l')->flags & OPT_ALLOCATED,
              0u);  // a switch stores nothing
    EXPECT_TRUE(Contains(entries, "002N \t(S) Server=<VALUE HIDDEN>"));
    EXPECT_EQ(log_.Raw().find("s3cr3t"), std::string::npos);
}

TEST_F(CgiIntake, ArgumentFilesAreNotReadAndZeroBytesAreRefused) {
    std::string customer = WriteTemp("customer", "ABCD\n");
    std::string query = "C=*FI:" + customer + "&f=a%2500b";
    setenv("QUERY_STRING", query.c_str(), 1);
    auto entries = Run({});
    EXPECT_EQ(std::string(customer_), "*FI:" + customer);
    EXPECT_TRUE(Contains(entries, "000E CGI value of argument -f holds a zero byte"));
    EXPECT_TRUE(Contains(entries, "000E Value for argument -f is blank and a value is required"));
}

TEST_F(CgiIntake, OtherMethodsGiveNoVariables) {
    setenv("REQUEST_METHOD", "DELETE", 1);
    setenv("QUERY_STRING", "C=ABCD&f=x", 1);
    auto entries = Run({});
    EXPECT_TRUE(Contains(entries, "000W CGI request method DELETE carries no form variables"));
    EXPECT_STREQ(customer_, "");
    EXPECT_EQ(log_.context.errorCount, 2u);  // C and f blank
}

}  // namespace
