// Fuzz target for the argument intake's parsers: server strings (parsed twice, so that
// fields kept from the first parse meet the second) and CGI forms with the program's
// second decoding of each value. The first input byte picks the parser.
// Built for libFuzzer with clang; otherwise a plain program that replays files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "frame/cgi_form.h"
#include "frame/server_address.h"

namespace {
const char kUser[] = "batch";
const char kNone[] = "";
const char kHost[] = "127.0.0.1";
const char kPort[] = "5000";

// Every field must be its default or a piece of one of the two texts.
void CheckField(const std::string& field, const char* fallback, const std::string& first,
                const std::string& second) {
    if (field == fallback) return;
    if (first.find(field) == std::string::npos && second.find(field) == std::string::npos) abort();
}

void FuzzServerString(std::string_view input) {
    size_t split = input.find('\n');
    std::string first(input.substr(0, split));
    std::string second(split == std::string_view::npos ? "" : input.substr(split + 1));
    ServerAddress address;
    InitServerAddress(&address, kUser, kNone, kHost, kPort);
    address.parse(&address, first.c_str(), nullptr);
    address.parse(&address, second.c_str(), nullptr);
    CheckField(address.user, kUser, first, second);
    CheckField(address.passwordSource, kNone, first, second);
    CheckField(address.host, kHost, first, second);
    CheckField(address.port, kPort, first, second);
}

void FuzzForm(std::string_view method, std::string_view query, std::string_view type,
              std::string_view body) {
    std::vector<FormVariable> variables;
    std::string error;
    ParseCgiForm({method, query, type, body}, &variables, &error);
    for (const FormVariable& variable : variables)
        if (DecodeFormValue(variable.value).size() > variable.value.size()) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0:
            FuzzServerString(input);
            break;
        case 1:
            FuzzForm("GET", input, "", "");
            break;
        default: {
            // The content type up to the first line end, the body after it.
            size_t split = input.find('\n');
            std::string_view type = input.substr(0, split);
            std::string_view body = split == std::string_view::npos ? "" : input.substr(split + 1);
            FuzzForm("POST", "", type, body);
            break;
        }
    }
    return 0;
}

#ifndef ZYMB_LIBFUZZER
// Replays each file named, or each file in each folder named.
int main(int argc, char** argv) {
    int replayed = 0;
    auto replay = [&replayed](const std::filesystem::path& path) {
        std::ifstream file(path, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(content.data()), content.size());
        ++replayed;
    };
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (std::filesystem::is_directory(argv[i], error)) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file()) replay(entry.path());
        } else {
            replay(argv[i]);
        }
    }
    printf("%d inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
#endif
