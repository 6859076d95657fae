// Scheduled runs of batch definitions on the system's own scheduler: for each definition a
// systemd user service that runs `ZYMBBatch --run /absolute/definition.cvbatch` and a timer
// with the calendar expression, in $XDG_CONFIG_HOME/systemd/user (else
// ~/.config/systemd/user). The unit names carry the definition's base name and a short
// hash of its absolute path, so definitions of the same name in different folders keep
// units of their own. When a user service manager is reachable the timer is loaded,
// enabled and started; when it is not, the files are still written and the commands that
// would do it are given.
//
// Results: an outcome with the exit status and the lines for the user; nothing here prints.
#pragma once
#include <ctime>
#include <string>
#include <vector>

// What `systemd-analyze calendar` makes of an expression.
struct CalendarCheck {
    bool ok = false;
    std::string reason;                  // why the expression is refused, when !ok
    std::string normalized;              // the normalized form
    std::vector<std::string> nextTimes;  // the next elapses, as systemd prints them
};
// Checks expression and asks for its next `count` elapses. An expression that never
// elapses, or that holds a line break, is refused too.
CalendarCheck CheckCalendarExpression(const std::string& expression, int count);

// What a scheduled run needs besides the definition: the program the service starts
// (ZYMBBatch's absolute path), the folder it starts in, and the environment it carries
// over (ZYMBVARFILE, PATH) so the run expands and finds programs as it does from the
// terminal it was scheduled in.
struct ScheduleSetting {
    std::string program;
    std::string workingFolder;
    std::string variableFile;  // "" for none
    std::string searchPath;    // "" for systemd's default
};
// The setting of this process: our own program, the current folder, ZYMBVARFILE (made
// absolute) and PATH.
ScheduleSetting CurrentScheduleSetting();

struct ScheduleOutcome {
    int status = 0;                  // 0 done; 2 refused (bad expression or definition); 1 failed
    std::vector<std::string> lines;  // for standard output
    std::string error;               // one line for standard error when status != 0
};

// The folder the units are written to, or "" when neither XDG_CONFIG_HOME nor HOME gives one.
std::string ScheduleUnitFolder();
// The unit name without its suffix for a definition's absolute path:
// "zymb-batch-NAME-1a2b3c4d".
std::string ScheduleUnitName(const std::string& absoluteDefinition);

// --schedule FILE --on-calendar EXPR. The expression is checked before anything is written;
// a definition scheduled before gets the new expression.
ScheduleOutcome ScheduleDefinition(const std::string& definition, const std::string& expression,
                                   const ScheduleSetting& setting);
// --unschedule FILE: stops and disables the timer where the manager is reachable and
// removes both units. The definition file need not exist any more.
ScheduleOutcome UnscheduleDefinition(const std::string& definition);

struct ScheduledRun {
    std::string unitName;  // without suffix
    std::string definition;
    std::string expression;
    std::string nextRun;  // as systemd prints it, or "" when unknown
    std::string lastRun;  // "" when it never ran or cannot be told
};
// --schedules: the scheduled definitions found in the unit folder, by unit name.
std::vector<ScheduledRun> ListSchedules();

// The units' texts for a definition (exposed for tests and for copying to other machines).
std::string ScheduleServiceText(const std::string& absoluteDefinition,
                                const ScheduleSetting& setting);
std::string ScheduleTimerText(const std::string& absoluteDefinition, const std::string& unitName,
                              const std::string& expression);
