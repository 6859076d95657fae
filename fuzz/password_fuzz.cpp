// Fuzz target for password files, named directly and found in the ZYMBPWPATH folder by
// user name. A password read is a terminated text of typed characters with no blanks at
// either end.
#include <cstdlib>
#include <cstring>

#include "frame/password.h"
#include "fuzz/fuzz_support.h"

namespace {

void Check(const char* password) {
    if (password == nullptr) return;
    const size_t length = strnlen(password, PASSWORD_BUFFER_SIZE);
    if (length == PASSWORD_BUFFER_SIZE) abort();
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(password[i]);
        if (c < 0x20 || c == 0x7F) abort();
    }
    if (length > 0 && (password[0] == ' ' || password[length - 1] == ' ')) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ProgramContext* context = QuietContext();
    const std::string path = WriteScratchFile("batch", {reinterpret_cast<const char*>(data), size});
    char password[PASSWORD_BUFFER_SIZE];
    Check(GetPassword(context, "batch", path.c_str(), "", password));
    setenv("ZYMBPWPATH", ScratchFolder().c_str(), 1);
    Check(GetPassword(context, "batch", "", "", password));
    return 0;
}
