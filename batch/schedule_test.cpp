// ZYMBBatch --schedule, --unschedule and --schedules: the systemd units written for a
// definition, checked by systemd itself, and what is refused. The tests run where no user
// service manager is reachable, so the units are written and the commands printed.
#include "batch/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ChildOptions;
using testsupport::ChildResult;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const char* const kDefinition =
    "options : { program = \"true\"; arguments = \"$TODAY\"; working_directory = \"\";\n"
    "  environment = \"\"; stdin = \"\"; };\n";

class Schedules : public ::testing::Test {
  protected:
    void SetUp() override {
        if (testsupport::FindProgram("systemd-analyze").empty()) {
            ASSERT_FALSE(testsupport::PeersRequired()) << "systemd-analyze is missing";
            GTEST_SKIP() << "systemd-analyze is missing";
        }
        fs::create_directories(home_ / "config");
    }

    ChildResult Batch(const std::vector<std::string>& arguments,
                      const std::string& folder = std::string(),
                      const std::optional<std::string>& variableFile = std::nullopt) {
        ChildOptions options;
        options.arguments = arguments;
        options.environment["XDG_CONFIG_HOME"] = home_ / "config";
        options.environment["XDG_DATA_HOME"] = home_ / "data";
        options.environment["HOME"] = home_.Path();
        options.environment["ZYMBVARFILE"] = variableFile;
        options.workingDirectory = folder.empty() ? work_.Path() : folder;
        return testsupport::RunProgram(BATCH_PROGRAM, options);
    }

    std::string UnitFolder() const { return home_ / "config/systemd/user"; }

    std::vector<std::string> UnitFiles() const {
        std::vector<std::string> names;
        if (!fs::exists(UnitFolder())) return names;
        for (const auto& entry : fs::directory_iterator(UnitFolder()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Definition(const std::string& relative) {
        fs::create_directories(fs::path(work_ / relative).parent_path());
        WriteFile(work_ / relative, kDefinition);
        return work_ / relative;
    }

    TempDir home_;
    TempDir work_;
};

TEST_F(Schedules, UnitsRunTheDefinitionAndPassSystemdVerify) {
    // A folder and a name in three scripts, with a space, given relative to the folder
    // ZYMBBatch starts in.
    std::string definition = Definition("Ημερήσια εργασία/夜間 ночь.cvbatch");
    // The variable file, given relative, reaches the run as an absolute path.
    ChildResult result = Batch(
        {"--schedule", "Ημερήσια εργασία/夜間 ночь.cvbatch", "--on-calendar", "Mon..Fri 06:30"},
        std::string(), "vars/night.cfg");
    ASSERT_EQ(0, result.exitStatus) << result.err;
    std::vector<std::string> units = UnitFiles();
    ASSERT_EQ(2u, units.size());
    std::string name = units[0].substr(0, units[0].rfind('.'));
    EXPECT_EQ(name + ".service", units[0]);
    EXPECT_EQ(name + ".timer", units[1]);
    EXPECT_EQ(0u, name.rfind("zymb-batch-", 0)) << name;
    for (char c : name) EXPECT_TRUE(isalnum(c) || c == '-' || c == '_') << name;
    // What it did and what the user still has to do, with the next runs.
    EXPECT_NE(std::string::npos,
              result.out.find("systemctl --user enable --now " + name + ".timer"))
        << result.out;
    EXPECT_NE(std::string::npos, result.out.find("Next runs: ")) << result.out;
    EXPECT_NE(std::string::npos, result.out.find("06:30:00")) << result.out;

    std::string service = ReadFile(UnitFolder() + "/" + units[0]);
    std::string timer = ReadFile(UnitFolder() + "/" + units[1]);
    EXPECT_NE(std::string::npos, service.find("ExecStart=\"" + std::string(BATCH_PROGRAM) +
                                              "\" --run \"" + definition + "\"\n"))
        << service;
    EXPECT_NE(std::string::npos, service.find("WorkingDirectory=" + work_.Path() + "\n"))
        << service;
    EXPECT_NE(std::string::npos,
              service.find("Environment=\"ZYMBVARFILE=" + work_.Path() + "/vars/night.cfg\"\n"))
        << service;
    EXPECT_NE(std::string::npos, timer.find("OnCalendar=Mon..Fri 06:30\n")) << timer;
    EXPECT_NE(std::string::npos, timer.find("Persistent=true\n")) << timer;
    EXPECT_NE(std::string::npos, timer.find("Unit=" + name + ".service\n")) << timer;

    // systemd's own check, in system mode on copies since no user manager runs here; it
    // also checks that the program of ExecStart exists and can run.
    TempDir copies;
    for (const std::string& unit : units) fs::copy_file(UnitFolder() + "/" + unit, copies / unit);
    ChildOptions verify;
    verify.arguments = {"verify", copies / units[0], copies / units[1]};
    ChildResult verified =
        testsupport::RunProgram(testsupport::FindProgram("systemd-analyze"), verify);
    EXPECT_EQ(0, verified.exitStatus) << verified.err;
    EXPECT_EQ("", verified.err);

    // The listing names the definition, the expression and the next run.
    ChildResult listed = Batch({"--schedules"});
    ASSERT_EQ(0, listed.exitStatus) << listed.err;
    EXPECT_NE(std::string::npos, listed.out.find(definition)) << listed.out;
    EXPECT_NE(std::string::npos, listed.out.find("Mon..Fri 06:30")) << listed.out;
    EXPECT_NE(std::string::npos, listed.out.find("06:30:00")) << listed.out;

    // Scheduling again replaces the expression; unscheduling removes both files, from
    // another folder with the absolute path.
    ASSERT_EQ(0, Batch({"--schedule", definition, "--on-calendar=daily"}).exitStatus);
    EXPECT_EQ(units, UnitFiles());
    EXPECT_NE(std::string::npos,
              ReadFile(UnitFolder() + "/" + units[1]).find("OnCalendar=daily\n"));
    ChildResult removed = Batch({"--unschedule", definition}, home_.Path());
    EXPECT_EQ(0, removed.exitStatus) << removed.err;
    EXPECT_TRUE(UnitFiles().empty());
    removed = Batch({"--unschedule", definition});
    EXPECT_EQ(1, removed.exitStatus);
    EXPECT_NE(std::string::npos, removed.err.find("is not scheduled")) << removed.err;
}

TEST_F(Schedules, RefusedBeforeAnythingIsWritten) {
    Definition("nightly.cvbatch");
    WriteFile(work_ / "broken.cvbatch", "options : { program = \"true\" \n");
    struct Case {
        const char* file;
        const char* expression;
        const char* said;  // in the one line on standard error
    } cases[] = {
        {"nightly.cvbatch", "bogus day", "invalid calendar expression 'bogus day'"},
        {"nightly.cvbatch", "25:00", "invalid calendar expression '25:00'"},
        {"nightly.cvbatch", "", "invalid calendar expression ''"},
        // A line break would put a setting of the caller's choice into the unit.
        {"nightly.cvbatch", "daily\nExecStartPre=/bin/false", "invalid calendar expression"},
        {"nightly.cvbatch", "2001-01-01", "never elapses"},
        {"missing.cvbatch", "daily", "missing.cvbatch: No such file or directory"},
        {"broken.cvbatch", "daily", "broken.cvbatch: "},
        {".", "daily", ".: not a regular file"},
    };
    for (const Case& c : cases) {
        ChildResult result = Batch({"--schedule", c.file, "--on-calendar", c.expression});
        EXPECT_EQ(2, result.exitStatus) << c.expression;
        EXPECT_NE(std::string::npos, result.err.find(c.said)) << result.err;
        EXPECT_EQ(1, std::count(result.err.begin(), result.err.end(), '\n')) << result.err;
        EXPECT_TRUE(UnitFiles().empty()) << c.file << " " << c.expression;
    }
}

TEST_F(Schedules, SameNameInTwoFoldersKeepsTwoSchedules) {
    std::string first = Definition("east/report.cvbatch");
    std::string second = Definition("west/report.cvbatch");
    ASSERT_EQ(0, Batch({"--schedule", first, "--on-calendar", "hourly"}).exitStatus);
    ASSERT_EQ(0, Batch({"--schedule", second, "--on-calendar", "*-*-* 02:00:00"}).exitStatus);
    EXPECT_EQ(4u, UnitFiles().size());
    EXPECT_NE(ScheduleUnitName(first), ScheduleUnitName(second));
    ChildResult listed = Batch({"--schedules"});
    EXPECT_NE(std::string::npos, listed.out.find(first)) << listed.out;
    EXPECT_NE(std::string::npos, listed.out.find(second)) << listed.out;
    EXPECT_NE(std::string::npos, listed.out.find("hourly")) << listed.out;
    ASSERT_EQ(0, Batch({"--unschedule", "east/report.cvbatch"}).exitStatus);
    std::vector<std::string> left = UnitFiles();
    ASSERT_EQ(2u, left.size());
    EXPECT_EQ(ScheduleUnitName(second) + ".service", left[0]);
}

TEST(ScheduleUnits, PathsReachTheProgramAsTheyAre) {
    // Quotes, backslashes, dollar and percent signs: systemd would otherwise split, expand
    // or substitute them.
    ScheduleSetting setting;
    setting.program = "/opt/zymb tools/ZYMBBatch";
    setting.workingFolder = "/srv/100%";
    setting.variableFile = "/srv/vars \"a\".txt";
    std::string text = ScheduleServiceText("/srv/a$HOME\\b%n.cvbatch", setting);
    EXPECT_NE(
        std::string::npos,
        text.find(
            "ExecStart=\"/opt/zymb tools/ZYMBBatch\" --run \"/srv/a$$HOME\\\\b%%n.cvbatch\"\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("WorkingDirectory=/srv/100%%\n")) << text;
    EXPECT_NE(std::string::npos, text.find("Environment=\"ZYMBVARFILE=/srv/vars \\\"a\\\".txt\"\n"))
        << text;
}

}  // namespace
