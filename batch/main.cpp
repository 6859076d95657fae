// ZYMBBatch: edits and runs batch definitions in its window, or runs one without a window
// with --run. The window lives in a module of its own, loaded only when it is needed: the
// window toolkit's libraries take longer to load than a short headless run takes.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/version_text.h"
#include "batch/headless_run.h"
#include "batch/program_search.h"

namespace {

constexpr const char* kWindowModule = "zymb-batch-window.so";

int RunWindow(int argc, char** argv) {
    // The module sits beside the program in the build tree, and in the library folder
    // given at build time (relative to the program's folder) once installed.
    const std::string own = OwnProgramFolder();
    const std::string folder = own.empty() ? std::string(".") : own;
    std::string candidates[] = {folder + "/" + kWindowModule,
                                folder + "/" + ZYMB_WINDOW_MODULE_DIR + "/" + kWindowModule};
    std::string reasons;
    for (const std::string& candidate : candidates) {
        if (access(candidate.c_str(), F_OK) != 0) continue;
        void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            reasons += std::string("\n  ") + dlerror();
            continue;
        }
        auto entry = reinterpret_cast<int (*)(int, char**)>(dlsym(module, "ZymbBatchWindowMain"));
        if (entry == nullptr) {
            reasons += std::string("\n  ") + candidate + ": no window entry";
            continue;
        }
        return entry(argc, argv);  // the module stays loaded until the program ends
    }
    fprintf(stderr,
            "ZYMBBatch: the window cannot be shown: %s was not loaded%s\n"
            "ZYMBBatch: a definition still runs without a window: ZYMBBatch --run FILE.cvbatch\n",
            kWindowModule, reasons.empty() ? " (not found)" : reasons.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        printf(
            "Usage: ZYMBBatch [FILE.cvbatch]      edit and run batch definitions in a window\n"
            "       ZYMBBatch --run FILE.cvbatch  run one without a window\n"
            "\n"
            "Options:\n"
            "  --run FILE.cvbatch  run the definition without a window; the exit status is\n"
            "                      the program's (2: the definition cannot be used)\n"
            "  -h, --help          show this text and exit\n"
            "      --version       show the release and build date and exit\n"
            "\n"
            "ZYMBVARFILE names the file of $NAME variables. The file formats, settings\n"
            "files and exit statuses: man ZYMBBatch\n");
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
        WriteVersion(stdout, "ZYMBBatch", __DATE__, __TIME__);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "--run") == 0) {
        if (argc != 3) {
            fprintf(stderr, "Usage: ZYMBBatch --run FILE.cvbatch\n");
            return 2;
        }
        return RunBatchHeadless(argv[2]);
    }
    return RunWindow(argc, argv);
}
