// The child's environment table: filled from ours and the definition's additions, written
// to the log and turned into the array the child starts with.
#include "batch/environment.h"

extern char** environ;

bool PutEnvironment(EnvironmentTable* table, std::string_view text) {
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) return false;
    (*table)[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
    return true;
}

void ImportEnvironment(EnvironmentTable* table) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        PutEnvironment(table, *entry);
    }
}

void PutEnvironmentPieces(EnvironmentTable* table, std::string_view pieces) {
    while (!pieces.empty()) {
        size_t end = pieces.find(';');
        std::string_view piece = pieces.substr(0, end);
        if (!piece.empty()) PutEnvironment(table, piece);
        if (end == std::string_view::npos) break;
        pieces.remove_prefix(end + 1);
    }
}

void DumpEnvironment(const EnvironmentTable& table, FILE* stream) {
    if (stream == nullptr) return;
    for (const auto& [name, value] : table) fprintf(stream, "%s=%s\n", name.c_str(), value.c_str());
}

EnvironmentArray::EnvironmentArray(const EnvironmentTable& table) {
    entries_.reserve(table.size());
    for (const auto& [name, value] : table) entries_.push_back(name + "=" + value);
    pointers_.reserve(entries_.size() + 1);
    for (std::string& entry : entries_) pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
}
