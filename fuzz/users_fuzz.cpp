// Fuzz target for the development server's users file: the input is loaded as the file,
// and the users it names (and one it may not) log on in every password form.
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "devserver/users.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string path = WriteScratchFile("users.txt", text);
    UserStore users;
    std::string error;
    if (!users.Load(path, &error)) {
        if (error.empty()) abort();
        return 0;
    }
    std::istringstream lines{std::string(text)};
    std::string line;
    int checked = 0;
    const uint8_t digest[16] = {};
    while (std::getline(lines, line) && checked++ < 8) {
        const std::string user = line.substr(0, line.find(':'));
        if (!user.empty() && user[0] != '#' && user != "\r" && !users.Exists(user) &&
            line.find(':') != std::string::npos)
            abort();  // a user the file names must be known
        users.CheckPlain(user, "secret");
        users.CheckDigest(user, digest);
        users.RecordLogon(user, 1, 0x0100007f);
        users.Inheritable(user);
    }
    return 0;
}
