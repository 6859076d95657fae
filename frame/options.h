// The option table a command program declares: one OptionEntry per option letter,
// pointing at the program's own variables. The table ends with a row whose letter is 0.
#pragma once
#include <cstdint>

struct ProgramContext;
struct OptionEntry;

constexpr uint32_t OPT_SET = 0x1;            // the switch was given
constexpr uint32_t OPT_HIDDEN = 0x2;         // the listing hides the value
constexpr uint32_t OPT_ERROR = 0x4;          // a value failed a check
constexpr uint32_t OPT_NOSTORE = 0x8;        // check, but do not store
constexpr uint32_t OPT_REQUIRED = 0x10;      // a non-blank value is required
constexpr uint32_t OPT_ALLOCATED = 0x20;     // value allocated by the CGI intake
constexpr uint32_t OPT_VALIDATE = 0x10000;   // target is an OptionValidator
constexpr uint32_t OPT_SERVER = 0x20000;     // target is a ServerAddress
constexpr uint32_t OPT_FILE = 0x40000;       // value must name an existing path
constexpr uint32_t OPT_DIRECTORY = 0x80000;  // value must name an existing directory

// Validator record for OPT_VALIDATE rows.
struct OptionValidator {
    uint32_t flags;  // bit 0: the option was given with an empty value
    int (*check)(OptionValidator* validator, const char* value);  // nonzero: acceptable
};

struct OptionEntry {
    char letter;
    const char* description;
    const char** value;  // the program's variable; none for a switch
    uint32_t flags;
    void (*onValue)(ProgramContext* context, OptionEntry* row, const char* value);
    void* target;  // switch: int32_t*; OPT_VALIDATE: OptionValidator*; OPT_SERVER: ServerAddress*
};
