// The child's environment: our own environment plus a batch definition's additions, kept
// as a table keyed by the exact bytes of each name (case matters) and enumerated in
// ascending byte order, for the log and for the child's environment array.
#pragma once
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

using EnvironmentTable = std::map<std::string, std::string>;

// Adds or replaces one entry from "name=value", split at the first "=" (the name may be
// empty). False, and the table unchanged, when the text has no "=".
bool PutEnvironment(EnvironmentTable* table, std::string_view text);
// Puts every variable of our own environment into the table.
void ImportEnvironment(EnvironmentTable* table);
// Adds the pieces of a definition's environment field, "NAME=VALUE;NAME=VALUE", taken as
// written: empty pieces and pieces without "=" are skipped.
void PutEnvironmentPieces(EnvironmentTable* table, std::string_view pieces);
// Writes every entry as "name=value\n" in byte order of the names. A null stream writes
// nothing.
void DumpEnvironment(const EnvironmentTable& table, FILE* stream);

// The array a child is started with: "name=value" texts in byte order, and the
// null-terminated pointers to them that exec takes. It owns its texts; the pointers stay
// valid as long as it lives and is not changed.
class EnvironmentArray {
  public:
    explicit EnvironmentArray(const EnvironmentTable& table);
    char** Get() { return pointers_.data(); }
    size_t Count() const { return entries_.size(); }

  private:
    std::vector<std::string> entries_;
    std::vector<char*> pointers_;
};
