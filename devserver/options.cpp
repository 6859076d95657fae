// Command-line options of zymb-devserver.
#include "devserver/options.h"

#include <getopt.h>

#include <cstdio>

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
            "  -q, --quiet            no line per request\n"
            "  -h, --help             this text\n"
            "\nFaults:\n%s",
            FaultKindsHelp());
}

}  // namespace

int ParseOptions(int argc, char** argv, ServerOptions* options) {
    enum { kNoCipher = 1000, kNoCompress };
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
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    optind = 1;
    int letter;
    while ((letter = getopt_long(argc, argv, "d:a:p:u:n:k:f:qh", kLong, nullptr)) != -1) {
        switch (letter) {
            case 'd':
                options->data = optarg;
                break;
            case 'a':
                options->address = optarg;
                break;
            case 'p':
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
            default:
                Usage(stderr);
                return 1;
        }
    }
    if (optind < argc) {
        fprintf(stderr, "zymb-devserver: unexpected argument %s\n", argv[optind]);
        return 1;
    }
    if (options->data.empty()) {
        fprintf(stderr, "zymb-devserver: --data FOLDER is required\n");
        Usage(stderr);
        return 1;
    }
    if (options->usersFile.empty()) options->usersFile = options->data + "/users.txt";
    if (options->name.size() > 20) options->name.resize(20);
    return 0;
}
