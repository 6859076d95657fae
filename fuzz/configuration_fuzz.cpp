// Fuzz target for the configuration file: the input is read as the file, its settings
// applied, and a few messages go through the message filters it may hold.
#include <cstdlib>

#include "frame/configuration.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ProgramContext* context = QuietContext();
    const std::string path =
        WriteScratchFile("configuration.cfg", {reinterpret_cast<const char*>(data), size});
    ReadConfiguration(context, path.c_str());
    // Datagrams to whatever host the file names are the syslog sink's business, not the
    // parser's: keep them from being sent.
    context->flags &= ~CTX_SYSLOG;
    Message(context, MSG_ERROR, 0, "Load of file %s failed", "report.csv");
    Message(context, MSG_INFO, 12, "Downloading section %u of %u", 1u, 3u);
    unsetenv("ZYMBSYSLOGHOST");
    unsetenv("ZYMBSYSLOGPORT");
    return 0;
}
