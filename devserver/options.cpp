// Command-line options of zymb-devserver.
#include "devserver/options.h"

#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/version_text.h"

namespace {

void Usage(FILE* out) {
    fprintf(out,
            "Usage: zymb-devserver --data FOLDER [options]\n"
            "A development Corvantix server that serves the files in FOLDER.\n"
            "\n"
            "  -d, --data FOLDER      data folder: one sub-folder per customer ID\n"
            "  -a, --address ADDRESS  address to listen on (default 127.0.0.1)\n"
            "  -p, --port PORT        port to listen on (default 5000)\n"
            "  -u, --users FILE       users file (default FOLDER/users.txt)\n"
            "  -n, --name NAME        server name answered to ID-Server (20 characters)\n"
            "  -k, --keytab FILE      Kerberos keytab of the service principal for single\n"
            "                         sign-on (default: KRB5_KTNAME, else the system's)\n"
            "      --no-cipher        plain payloads, format level 3\n"
            "      --no-compress      never compress reply payloads\n"
            "  -f, --fault FAULT      misbehave: KIND[=VALUE][@N] or KIND[=VALUE][@N+];\n"
            "                         @N: only the N-th request of each connection,\n"
            "                         @N+: the N-th and every later one; repeatable\n"
            "  -c, --max-connections N\n"
            "                         clients served at once; more are closed at once\n"
            "                         (default 256)\n"
            "  -t, --idle-timeout S   close a connection that sends nothing for S seconds\n"
            "                         (default 120; 0: never)\n"
            "  -q, --quiet            no line per request\n"
            "  -h, --help             show this text and exit\n"
            "      --version          show the release and build date and exit\n"
            "\nFaults:\n%s",
            FaultKindsHelp());
}

// A whole decimal number from low to high.
bool ParseCount(const char* text, unsigned low, unsigned high, unsigned* value) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long number = strtoul(text, &end, 10);
    if (errno != 0 || *end != 0 || number < low || number > high) return false;
    *value = static_cast<unsigned>(number);
    return true;
}

}  // namespace

int ParseOptions(int argc, char** argv, ServerOptions* options) {
    enum { kNoCipher = 1000, kNoCompress, kVersion };
    static const option kLong[] = {
        {"data", required_argument, nullptr, 'd'},
        {"address", required_argument, nullptr, 'a'},
        {"port", required_argument, nullptr, 'p'},
        {"users", required_argument, nullptr, 'u'},
        {"name", required_argument, nullptr, 'n'},
        {"keytab", required_argument, nullptr, 'k'},
        {"no-cipher", no_argument, nullptr, kNoCipher},
        {"no-compress", no_argument, nullptr, kNoCompress},
        {"fault", required_argument, nullptr, 'f'},
        {"max-connections", required_argument, nullptr, 'c'},
        {"idle-timeout", required_argument, nullptr, 't'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    optind = 1;
    opterr = 0;  // one line of our own, with the hint to --help
    int letter;
    while ((letter = getopt_long(argc, argv, ":d:a:p:u:n:k:f:c:t:qh", kLong, nullptr)) != -1) {
        switch (letter) {
            case 'd':
                options->data = optarg;
                break;
            case 'a':
                options->address = optarg;
                break;
            case 'p':
                // The listener would take any text the resolver takes, and "99999" as a
                // random port, while the log names the port asked for.
                if (unsigned port; !ParseCount(optarg, 1, 65535, &port)) {
                    fprintf(stderr, "zymb-devserver: --port %s is not a number from 1 to 65535\n",
                            optarg);
                    return 1;
                }
                options->port = optarg;
                break;
            case 'u':
                options->usersFile = optarg;
                break;
            case 'n':
                options->name = optarg;
                break;
            case 'k':
                options->keytab = optarg;
                break;
            case kNoCipher:
                options->cipher = false;
                break;
            case kNoCompress:
                options->compress = false;
                break;
            case 'q':
                options->quiet = true;
                break;
            case 'c':
                if (!ParseCount(optarg, 1, 100000, &options->maxConnections)) {
                    fprintf(stderr, "zymb-devserver: --max-connections must be 1 to 100000\n");
                    return 1;
                }
                break;
            case 't':
                if (!ParseCount(optarg, 0, 86400, &options->idleTimeout)) {
                    fprintf(stderr, "zymb-devserver: --idle-timeout must be 0 to 86400 seconds\n");
                    return 1;
                }
                break;
            case 'f': {
                Fault fault;
                std::string error;
                if (!ParseFault(optarg, &fault, &error)) {
                    fprintf(stderr, "zymb-devserver: %s\n", error.c_str());
                    return 1;
                }
                options->faults.Add(fault);
                break;
            }
            case 'h':
                Usage(stdout);
                return 2;
            case kVersion:
                WriteVersion(stdout, "zymb-devserver", __DATE__, __TIME__);
                return 2;
            case ':':
                fprintf(stderr,
                        "zymb-devserver: option '%s' needs a value; see 'zymb-devserver "
                        "--help'\n",
                        argv[optind - 1]);
                return 1;
            default:
                fprintf(stderr,
                        "zymb-devserver: unrecognized option '%s'; see 'zymb-devserver "
                        "--help'\n",
                        argv[optind - 1]);
                return 1;
        }
    }
    if (optind < argc) {
        fprintf(stderr, "zymb-devserver: unexpected argument %s\n", argv[optind]);
        return 1;
    }
    if (options->data.empty()) {
        fprintf(stderr, "zymb-devserver: --data FOLDER is required; see 'zymb-devserver --help'\n");
        return 1;
    }
    if (options->usersFile.empty()) options->usersFile = options->data + "/users.txt";
    // A folder or file that cannot be used ends the start here, naming it, rather than
    // leaving a server that answers every request with an empty list.
    DIR* folder = opendir(options->data.c_str());
    if (folder == nullptr) {
        fprintf(stderr, "zymb-devserver: --data %s cannot be read: %s\n", options->data.c_str(),
                strerror(errno));
        return 1;
    }
    closedir(folder);
    const int users = open(options->usersFile.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (users < 0 || fstat(users, &status) != 0 || S_ISDIR(status.st_mode)) {
        const int cause = users < 0 ? errno : EISDIR;
        if (users >= 0) close(users);
        fprintf(stderr, "zymb-devserver: users file %s cannot be read: %s\n",
                options->usersFile.c_str(), strerror(cause));
        return 1;
    }
    close(users);
    if (options->name.size() > 20) options->name.resize(20);
    return 0;
}
