// The variable store and the expander of $name (variable file) and %name (environment)
// references in a batch definition's fields.
#include "batch/variable_store.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsNameCharacter(char c) {
    // Only the C locale's letters and digits: bytes above 127 end a name whatever the
    // locale the window runs in.
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

}  // namespace

int VariableStore::SetVariable(const char* name, const char* format, ...) {
    VariableStore* store = this;
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (store->tree == nullptr) return 1;
    config_setting_t* variables = config_lookup(store->tree, "variable");
    if (variables == nullptr || !config_setting_is_group(variables)) return 1;
    config_setting_t* variable = config_setting_get_member(variables, name);
    if (variable == nullptr) variable = config_setting_add(variables, name, CONFIG_TYPE_GROUP);
    if (variable == nullptr || !config_setting_is_group(variable)) return 1;
    config_setting_t* value = config_setting_get_member(variable, "value");
    if (value == nullptr) value = config_setting_add(variable, "value", CONFIG_TYPE_STRING);
    if (value != nullptr) config_setting_set_string(value, text);
    return 1;
}

int VariableStore::Destroy() {
    if (ownsTree && tree != nullptr) config_destroy(tree);
    tree = nullptr;
    ownsTree = 0;
    return 1;
}

namespace {

// The text of $name, or null when the reference stays as written. A date variable whose
// date cannot be computed sets *dateError.
const char* NamedVariable(VariableStore* store, const char* name, std::string* dateError) {
    if (store->tree == nullptr) return nullptr;
    config_setting_t* variables = config_lookup(store->tree, "variable");
    if (variables == nullptr || !config_setting_is_group(variables)) return nullptr;
    config_setting_t* variable = config_setting_get_member(variables, name);
    if (variable == nullptr || !config_setting_is_group(variable)) return nullptr;
    const char* type = nullptr;
    if (config_setting_lookup_string(variable, "type", &type) && strcmp(type, "date") == 0) {
        EvaluateDateVariable(variable, store->fixedNow != 0 ? store->fixedNow : time(nullptr),
                             dateError);
    }
    const char* value = nullptr;
    if (!config_setting_lookup_string(variable, "value", &value)) return nullptr;
    return value;
}

}  // namespace

ExpandResult VariableStore::Expand(const char* input, char* output, size_t outputSize,
                                   int noEnvironment) {
    ExpandResult result;
    auto note = [&result](const std::string& reference, const std::string& reason) {
        if (!result.complete) return;  // the first problem is the one told
        result.complete = false;
        result.reference = reference;
        result.reason = reason;
    };
    if (output == nullptr || outputSize == 0) return result;
    memset(output, 0, outputSize);
    const size_t limit = outputSize - 1;
    size_t written = 0;
    char previous = ' ';
    bool justSubstituted = false;
    char name[VARIABLE_NAME_LIMIT + 1];
    char formatted[VARIABLE_NAME_LIMIT + 16];
    const char* p = input != nullptr ? input : "";
    while (*p != '\0' && written < limit) {
        char c = *p;
        if (c != '$' && c != '%') {
            if (!(justSubstituted && c == '.')) output[written++] = c;
            justSubstituted = false;
            previous = c;
            ++p;
            continue;
        }
        size_t length = 0;
        while (length < VARIABLE_NAME_LIMIT && IsNameCharacter(p[1 + length])) {
            name[length] = p[1 + length];
            ++length;
        }
        name[length] = '\0';
        const char* text;
        if (length == 0) {
            text = c == '$' ? "$" : "%";
        } else if (previous == c) {
            text = name;  // a doubled sign: the name itself, unexpanded
        } else if (c == '$') {
            std::string dateError;
            text = NamedVariable(this, name, &dateError);
            if (!dateError.empty()) note(std::string("$") + name, dateError);
            if (text == nullptr) {
                snprintf(formatted, sizeof formatted, "$%s", name);
                text = formatted;
            }
        } else {
            text = noEnvironment ? nullptr : getenv(name);
            if (text == nullptr) {
                snprintf(formatted, 128, "***BADENV:%s***", name);
                text = formatted;
            }
        }
        size_t textLength = strlen(text);
        // A text that does not fit is left out whole, never cut.
        if (written + textLength < limit) {
            memcpy(output + written, text, textLength);
            written += textLength;
        } else {
            note(std::string(1, c) + name, "does not fit");
        }
        previous = length == 0 ? c : name[length - 1];
        justSubstituted = true;
        p += 1 + length;
    }
    if (*p != '\0') note("", "does not fit");
    return result;
}

void InitVariableStore(VariableStore* store) {
    config_init(&store->ownTree);
    store->tree = &store->ownTree;
    store->ownsTree = 1;
    store->fixedNow = 0;
    const char* path = getenv("ZYMBVARFILE");
    // The file is optional: without it (or when it does not read) no variable is defined.
    store->fileProblem.clear();
    if (path != nullptr && *path != '\0' && config_read_file(store->tree, path) != CONFIG_TRUE) {
        const char* text = config_error_text(store->tree);
        store->fileProblem = std::string("the variable file ") + path + " cannot be used: " +
                             (config_error_type(store->tree) == CONFIG_ERR_FILE_IO ? strerror(errno)
                              : text != nullptr                                    ? text
                                                                                   : "unreadable");
        if (config_error_line(store->tree) > 0)
            store->fileProblem += " on line " + std::to_string(config_error_line(store->tree));
        store->fileProblem += "; its $NAME references stay as written";
        config_destroy(store->tree);
        config_init(store->tree);
    }
    if (config_lookup(store->tree, "variable") == nullptr) {
        config_setting_add(config_root_setting(store->tree), "variable", CONFIG_TYPE_GROUP);
    }
}
