// The variable store: named variables from the file that ZYMBVARFILE names (plain texts
// and date variables computed at every use), and the expander that replaces $name and
// %name references in a batch definition's fields.
//
// Ownership: the store owns its libconfig tree when ownsTree is set (InitVariableStore
// sets it); Destroy releases it. A store is used from one thread at a time; stores share
// no state, so separate stores may be used on separate threads.
#pragma once
#include <libconfig.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// The output size of the batch fields' expansion (a path's worth).
constexpr size_t EXPAND_OUTPUT_SIZE = 260;
// A reference name is at most this many characters; longer runs are cut.
constexpr size_t VARIABLE_NAME_LIMIT = 255;

// What an expansion did not manage. Expand keeps its output as it always did (a text that
// does not fit left out whole, plain characters cut at the limit), and says so here: a
// run must never start with a field that differs from what its references asked for.
struct ExpandResult {
    bool complete = true;
    // The reference ("$NAME", "%NAME") that did not fit or whose date failed; "" when the
    // plain text itself was cut.
    std::string reference;
    // Why, as a user reads it: "does not fit", or what is wrong with the date.
    std::string reason;
};

struct VariableStore {
    config_t* tree;    // the variables' tree: ownTree, or a tree shared with another owner
    config_t ownTree;  // the store's own tree
    int ownsTree;      // 1: Destroy destroys the tree

    // Sets variable name's value to the formatted text (at most 1023 characters), adding
    // the variable if it is missing. Does nothing when the tree has no variable group.
    // Always returns 1.
    int SetVariable(const char* name, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    // Destroys the tree when the store owns it. Returns 1.
    int Destroy();
    // Writes the expansion of input into output (outputSize bytes, always zero-terminated,
    // at most outputSize - 1 characters). With noEnvironment set every %name reference is
    // reported as "***BADENV:name***". The result tells of the first reference that did
    // not fit or whose date could not be computed, or of plain text that was cut.
    ExpandResult Expand(const char* input, char* output, size_t outputSize, int noEnvironment);

    // The current time date variables start from; 0 means the real clock. Set by tests.
    time_t fixedNow;
    // Why the file ZYMBVARFILE names could not be used ("" when it was read, or when none
    // is named): its path, the reader's text and the line.
    std::string fileProblem;
};

// Initialises the store: an empty own tree, filled from the file named by ZYMBVARFILE when
// that is set (a file that cannot be read leaves no variable defined, and fileProblem says
// why, for the caller to warn about), with an empty group
// "variable" added when the file has none; then installs the operations.
void InitVariableStore(VariableStore* store);

// A date as the date-expression parser packs it: bits 31-30 set, day in 29-24, month in
// 19-16, year in 15-0. Zero means not set.
using PackedDate = uint32_t;
constexpr PackedDate PACKED_DATE_MARK = 0xC0000000u;
constexpr PackedDate PackDate(unsigned year, unsigned month, unsigned day) {
    return PACKED_DATE_MARK | (day & 0x3Fu) << 24 | (month & 0xFu) << 16 | (year & 0xFFFFu);
}
constexpr unsigned PackedYear(PackedDate date) {
    return date & 0xFFFFu;
}
constexpr unsigned PackedMonth(PackedDate date) {
    return date >> 16 & 0xFu;
}
constexpr unsigned PackedDay(PackedDate date) {
    return date >> 24 & 0x3Fu;
}

// Parses a date expression (2025-03-17+3, 2024, M+1, m-1, Y+0, y-1, W+0, *+2, *) at
// the time now, in the local time zone. Returns the packed date, or 0 when the text is no
// date expression. A date outside the years 1 to 9999 is 0 with *outOfRange set (when
// outOfRange is not null), never a wrapped year.
PackedDate ParseDateExpression(const char* dateText, time_t now, bool* outOfRange = nullptr);

// Evaluates one date variable group (settings date, format) at the time now: replaces its
// value setting with the formatted date ("Not-Set", "**ERROR**" in the odd cases). A date
// text that is no date expression gives the time now. False, with *reason set, when the
// date falls outside the years 1 to 9999 or its text does not fit in 127 characters; the
// value is then "**ERROR**".
bool EvaluateDateVariable(config_setting_t* variable, time_t now, std::string* reason = nullptr);
