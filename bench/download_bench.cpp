// download_bench: times the download program end to end (list, sections, size and CRC
// checks, unpacking) against the development server, with the cipher off and on, beside
// the same gzip file unpacked locally by gzip, pigz and igzip and fetched from nginx with
// curl | gunzip, each of those also with its output made durable as the download's is.
//
//   download_bench [SIZE] [--runs N] [--level L] [--work FOLDER]
//
// SIZE is the text size before compression (bytes, or with K, M or G; default 1G).
// Exit status: 0 when every target is met, 2 when one is missed, 1 when the run failed.
#include <isa-l/crc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/peers.h"
#include "bench/timed_run.h"
#include "bench/workload.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* CUSTOMER = "BNCH";
constexpr const char* STORED_NAME = "bench.dat.gz";
constexpr const char* PASSWORD = "bench-password";
constexpr double MIB = 1024.0 * 1024.0;

// Targets: the download with the cipher on within 1.25 times the fastest local unpacking
// made durable (igzip -dc, its output fsynced), the cipher adding at most 5 %, memory that
// does not grow with the file, and a list in well under a blink.
constexpr double TARGET_VERSUS_DURABLE_IGZIP = 1.25;
constexpr double TARGET_CIPHER_COST = 0.05;
constexpr double TARGET_PEAK_MIB = 32.0;
constexpr double TARGET_LIST_SECONDS = 0.030;

struct Options {
    uint64_t size = uint64_t{1} << 30;
    int runs = 5;
    int level = 6;
    std::string work;  // kept between runs when given
};

void Usage(FILE* out) {
    fprintf(out,
            "Usage: download_bench [SIZE] [--runs N] [--level L] [--work FOLDER]\n"
            "Times ZYMB10DownloadFile against the development server (cipher off and on)\n"
            "beside gzip -dc, pigz -dc, igzip -dc and curl | gunzip from nginx, each also\n"
            "with its output fsynced, on one gzip file.\n"
            "\n"
            "  SIZE            text size before compression: bytes, or a number with K, M\n"
            "                  or G (binary units); default 1G\n"
            "  --runs N        rounds of every measurement; the best is reported (default 5)\n"
            "  --level L       gzip level of the file (default 6)\n"
            "  --work FOLDER   keep the work files there and reuse the gzip file next time\n"
            "                  (default: a fresh folder under TMPDIR, removed at the end)\n"
            "\nExit status: 0 all targets met, 2 a target missed, 1 the run failed.\n");
}

bool ParseSize(const char* text, uint64_t* size) {
    char* end = nullptr;
    errno = 0;
    const double number = strtod(text, &end);
    if (errno != 0 || end == text || number <= 0) return false;
    double factor = 1;
    switch (*end) {
        case 'k':
        case 'K':
            factor = 1024.0;
            ++end;
            break;
        case 'm':
        case 'M':
            factor = MIB;
            ++end;
            break;
        case 'g':
        case 'G':
            factor = MIB * 1024.0;
            ++end;
            break;
    }
    if (strcmp(end, "") != 0 && strcmp(end, "i") != 0 && strcasecmp(end, "iB") != 0 &&
        strcasecmp(end, "B") != 0)
        return false;
    *size = static_cast<uint64_t>(number * factor);
    return *size > 0;
}

int ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "download_bench: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (argument == "-h" || argument == "--help") {
            Usage(stdout);
            return 2;
        } else if (argument == "--runs") {
            const char* text = value("--runs");
            if (text == nullptr || (options->runs = atoi(text)) < 1) return 1;
        } else if (argument == "--level") {
            const char* text = value("--level");
            if (text == nullptr || (options->level = atoi(text)) < 1 || options->level > 9)
                return 1;
        } else if (argument == "--work") {
            const char* text = value("--work");
            if (text == nullptr) return 1;
            options->work = text;
        } else if (!argument.empty() && argument[0] != '-' &&
                   ParseSize(argument.c_str(), &options->size)) {
        } else {
            fprintf(stderr, "download_bench: unknown argument %s\n", argument.c_str());
            Usage(stderr);
            return 1;
        }
    }
    return 0;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
}

// The gzip file, made once per work folder and size; its description sits beside it.
bool PrepareWorkload(const Options& options, const std::string& gzipPath, Workload* workload,
                     std::string* error) {
    const std::string described = gzipPath + ".workload";
    std::ifstream in(described);
    unsigned long long size = 0, packed = 0;
    unsigned crc = 0;
    int level = 0;
    struct stat status;
    if (in >> size >> crc >> packed >> level && size == options.size && level == options.level &&
        stat(gzipPath.c_str(), &status) == 0 && static_cast<uint64_t>(status.st_size) == packed) {
        *workload = Workload{size, crc, packed};
        printf("reusing %s\n", gzipPath.c_str());
        return true;
    }
    printf("making %.1f MiB of text, gzip level %d ...\n", options.size / MIB, options.level);
    fflush(stdout);
    if (!MakeWorkload(gzipPath, options.size, options.level, workload, error)) return false;
    WriteText(described, std::to_string(workload->size) + " " + std::to_string(workload->crc) +
                             " " + std::to_string(workload->packedSize) + " " +
                             std::to_string(options.level) + "\n");
    return true;
}

struct Measurement {
    std::string name;
    std::vector<TimedRun> runs;
    const TimedRun& BestRun() const {
        const TimedRun* best = &runs.front();
        for (const TimedRun& run : runs)
            if (run.seconds < best->seconds) best = &run;
        return *best;
    }
    double Best() const { return BestRun().seconds; }
    double Median() const {
        std::vector<double> times;
        for (const TimedRun& run : runs) times.push_back(run.seconds);
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    }
    long PeakKiB() const {
        long peak = 0;
        for (const TimedRun& run : runs) peak = std::max(peak, run.peakKiB);
        return peak;
    }
};

// The one-minute load average: other work on the machine shows in every figure.
std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string first;
    in >> first;
    return first.empty() ? "unknown" : first;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A shell command line of the words, each quoted.
std::string CommandLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        line += Quoted(word);
    }
    return line;
}

// CRC-32 throughput of zlib's and ISA-L's routines over the same bytes, best of three, so
// that the download's choice can be checked on the machine at hand.
void ReportCrcSpeed(const std::string& path) {
    const std::string bytes = testsupport::ReadFile(path);
    if (bytes.empty()) return;
    auto* data = reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data()));
    auto best = [&](auto crc) {
        double fastest = 1e9;
        for (int round = 0; round < 3; ++round) {
            const auto started = std::chrono::steady_clock::now();
            volatile uint32_t sink = 0;
            for (size_t at = 0; at < bytes.size(); at += 65000)
                sink = crc(sink, data + at, std::min<size_t>(65000, bytes.size() - at));
            fastest = std::min(
                fastest,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        }
        return bytes.size() / MIB / 1024.0 / fastest;
    };
    const double zlib = best([](uint32_t crc, const uint8_t* at, size_t length) {
        return static_cast<uint32_t>(crc32(crc, at, static_cast<uInt>(length)));
    });
    const double isal = best(
        [](uint32_t crc, uint8_t* at, size_t length) { return crc32_gzip_refl(crc, at, length); });
    printf("CRC-32 of the gzip file in sections: zlib %.1f GiB/s, ISA-L %.1f GiB/s\n", zlib, isal);
}

class Bench {
  public:
    Bench(const Options& options, std::string work) : options_(options), work_(std::move(work)) {}
    int Run();

  private:
    bool Prepare(std::string* error);
    RunPlan DownloadPlan(int port, bool list) const;
    // The peer's command, writing the unpacked text to standard output, timed as it is or
    // followed by an fsync of its output and folder as the download does.
    RunPlan PeerPlan(const std::string& name, const std::vector<std::string>& command,
                     bool durable) const;
    // Runs one measurement, checks its output against the workload and cleans up after it.
    bool Measure(const RunPlan& plan, const std::string& output, Measurement* into,
                 std::string* error);
    int Report(const std::vector<Measurement>& peers, const Measurement& plain,
               const Measurement& cipher, const Measurement& list) const;

    Options options_;
    std::string work_;
    Workload workload_;
    std::string gzipPath_, nginx_, curl_, gzip_, gunzip_, pigz_, igzip_;
    BenchServer plainServer_, cipherServer_, web_;
};

bool Bench::Prepare(std::string* error) {
    nginx_ = testsupport::FindProgram("nginx");
    curl_ = testsupport::FindProgram("curl");
    gzip_ = testsupport::FindProgram("gzip");
    gunzip_ = testsupport::FindProgram("gunzip");
    pigz_ = testsupport::FindProgram("pigz");
    igzip_ = testsupport::FindProgram("igzip");
    if (nginx_.empty() || curl_.empty() || gzip_.empty() || gunzip_.empty() || pigz_.empty() ||
        igzip_.empty()) {
        *error =
            "nginx, curl, gzip, gunzip, pigz and igzip are needed (scripts/deps.sh installs "
            "them)";
        return false;
    }
    // The gzip file, the downloaded copy and the unpacked file exist side by side; a
    // fifth of the text is a generous guess at the gzip size.
    std::error_code spaceError;
    const fs::space_info space = fs::space(work_, spaceError);
    const uint64_t needed = options_.size + options_.size / 5 * 2;
    if (!spaceError && space.available < needed) {
        *error = work_ + " has " + std::to_string(space.available >> 20) + " MiB free; " +
                 std::to_string(needed >> 20) + " MiB are needed (TMPDIR or --work elsewhere)";
        return false;
    }
    for (const char* folder : {"data", "www", "tmp", "out", "logs"})
        fs::create_directories(work_ + "/" + folder);
    fs::create_directories(work_ + "/data/" + CUSTOMER);
    gzipPath_ = work_ + "/data/" + CUSTOMER + "/" + STORED_NAME;
    if (!PrepareWorkload(options_, gzipPath_, &workload_, error)) return false;
    printf("%.1f MiB of text, %.1f MiB as gzip (%.2f to 1)\n", workload_.size / MIB,
           workload_.packedSize / MIB,
           static_cast<double>(workload_.size) / static_cast<double>(workload_.packedSize));
    const std::string published = work_ + "/www/" + STORED_NAME;
    std::error_code ignored;
    fs::remove(published, ignored);
    fs::create_hard_link(gzipPath_, published, ignored);
    if (ignored) fs::copy_file(gzipPath_, published, ignored);

    WriteText(work_ + "/users", std::string("batch:") + PASSWORD + "\n");
    WriteText(work_ + "/pw", std::string(PASSWORD) + "\n");
    chmod((work_ + "/pw").c_str(), 0600);
    return plainServer_.StartDevServer(DEVSERVER_PROGRAM, work_ + "/data", work_ + "/users", false,
                                       work_ + "/logs/devserver-plain.log", error) &&
           cipherServer_.StartDevServer(DEVSERVER_PROGRAM, work_ + "/data", work_ + "/users", true,
                                        work_ + "/logs/devserver-cipher.log", error) &&
           web_.StartNginx(nginx_, work_ + "/nginx", work_ + "/www", error);
}

RunPlan Bench::DownloadPlan(int port, bool list) const {
    RunPlan plan;
    plan.argv = {DOWNLOAD_PROGRAM,
                 "-C",
                 CUSTOMER,
                 "-f",
                 STORED_NAME,
                 "-S",
                 "batch:" + work_ + "/pw@127.0.0.1:" + std::to_string(port)};
    if (list) {
        plan.argv.push_back("-l");
    } else {
        plan.argv.push_back("-o");
        plan.argv.push_back(work_ + "/out/bench.dat");
    }
    plan.workingDirectory = work_ + "/out";
    plan.logPath = work_ + "/logs/download.log";
    plan.environment = {{"TMPDIR", work_ + "/tmp"}, {"ZYMBSTDERRNOCOLOR", "1"}};
    return plan;
}

RunPlan Bench::PeerPlan(const std::string& name, const std::vector<std::string>& command,
                        bool durable) const {
    RunPlan plan;
    const std::string output = work_ + "/out/bench.dat";
    // A single word is a shell pipeline already; words are one program and its arguments.
    std::string line = command.size() == 1 ? command[0] : CommandLine(command);
    if (durable) {
        std::string synced = "{ ";
        synced += line;
        synced += "; } && sync ";
        synced += CommandLine({output, work_ + "/out"});
        line = synced;
    } else if (command.size() > 1) {
        line = "exec " + line;
    }
    plan.argv = {"/bin/sh", "-c", line};
    plan.outputPath = output;
    plan.logPath = work_ + "/logs/" + name + ".log";
    return plan;
}

bool Bench::Measure(const RunPlan& plan, const std::string& output, Measurement* into,
                    std::string* error) {
    // Dirty pages of the previous measurement must not be charged to this one.
    sync();
    TimedRun run = RunTimed(plan);
    if (run.exitStatus != 0) {
        *error = into->name + " failed with status " + std::to_string(run.exitStatus) +
                 "; see the logs in " + work_ + "/logs";
        return false;
    }
    std::string why;
    if (!output.empty() && !MatchesWorkload(output, workload_, &why)) {
        *error = into->name + " wrote a wrong file: " + why;
        return false;
    }
    into->runs.push_back(run);
    std::error_code ignored;
    fs::remove_all(work_ + "/out", ignored);
    fs::remove_all(work_ + "/tmp", ignored);
    fs::create_directories(work_ + "/out");
    fs::create_directories(work_ + "/tmp");
    return true;
}

int Bench::Run() {
    std::string error;
    if (!Prepare(&error)) {
        fprintf(stderr, "download_bench: %s\n", error.c_str());
        return 1;
    }
    ReportCrcSpeed(gzipPath_);
    const std::string output = work_ + "/out/bench.dat";
    const std::string url = "http://127.0.0.1:" + std::to_string(web_.Port()) + "/" + STORED_NAME;

    struct Peer {
        const char* name;
        const char* log;
        std::vector<std::string> command;
    };
    const Peer peers[] = {
        {"gzip -dc", "gzip", {gzip_, "-dc", gzipPath_}},
        {"pigz -dc", "pigz", {pigz_, "-dc", gzipPath_}},
        {"igzip -dc", "igzip", {igzip_, "-dc", gzipPath_}},
        {"curl | gunzip", "curl", {CommandLine({curl_, "-sSf", url}) + " | " + Quoted(gunzip_)}},
    };
    std::vector<Measurement> peerRuns;
    std::vector<RunPlan> peerPlans;
    for (const Peer& peer : peers) {
        for (bool durable : {false, true}) {
            peerRuns.push_back(Measurement{std::string(peer.name) + (durable ? ", fsync" : "")});
            peerPlans.push_back(PeerPlan(peer.log, peer.command, durable));
        }
    }
    Measurement plain{"download, cipher off"}, cipher{"download, cipher on"}, list{"list mode"};
    // The servers learn the file's CRC-32 on the first list; that is not what is timed.
    for (BenchServer* server : {&plainServer_, &cipherServer_}) {
        Measurement warm{"list (warm-up)"};
        if (!Measure(DownloadPlan(server->Port(), true), "", &warm, &error)) {
            fprintf(stderr, "download_bench: %s\n", error.c_str());
            return 1;
        }
    }
    printf("load average %s before the runs\n", LoadAverage().c_str());
    for (int round = 1; round <= options_.runs; ++round) {
        printf("round %d of %d ...\n", round, options_.runs);
        fflush(stdout);
        bool ok = true;
        for (size_t i = 0; ok && i < peerPlans.size(); ++i)
            ok = Measure(peerPlans[i], output, &peerRuns[i], &error);
        if (!ok || !Measure(DownloadPlan(plainServer_.Port(), false), output, &plain, &error) ||
            !Measure(DownloadPlan(cipherServer_.Port(), false), output, &cipher, &error) ||
            !Measure(DownloadPlan(plainServer_.Port(), true), "", &list, &error)) {
            fprintf(stderr, "download_bench: %s\n", error.c_str());
            return 1;
        }
    }
    return Report(peerRuns, plain, cipher, list);
}

int Bench::Report(const std::vector<Measurement>& peers, const Measurement& plain,
                  const Measurement& cipher, const Measurement& list) const {
    printf("\n%.1f MiB of text in %.1f MiB of gzip, %d runs of each; load average %s at the end\n",
           workload_.size / MIB, workload_.packedSize / MIB, options_.runs, LoadAverage().c_str());
    // The last two columns: the download's best time over this row's, cipher on and off.
    printf("  %-22s %8s %8s %8s %7s %9s %9s %9s\n", "", "best s", "median s", "MiB/s", "CPU s",
           "on /", "off /", "peak MiB");
    auto row = [&](const Measurement& m, bool ours) {
        printf("  %-22s %8.3f %8.3f %8.1f %7.2f %9.3f %9.3f", m.name.c_str(), m.Best(), m.Median(),
               workload_.size / MIB / m.Best(), m.BestRun().cpuSeconds, cipher.Best() / m.Best(),
               plain.Best() / m.Best());
        if (ours) printf(" %9.1f", m.PeakKiB() / 1024.0);
        printf("\n");
    };
    for (const Measurement& m : peers) row(m, false);
    row(plain, true);
    row(cipher, true);
    printf("  %-22s %8.3f %8.3f %8s %7.2f %9s %9s %9.1f\n", list.name.c_str(), list.Best(),
           list.Median(), "", list.BestRun().cpuSeconds, "", "", list.PeakKiB() / 1024.0);
    const double cipherCost = cipher.Best() / plain.Best() - 1.0;
    printf("  cipher on costs %+.1f %%\n", cipherCost * 100.0);

    const Measurement* durableIgzip = nullptr;
    for (const Measurement& m : peers)
        if (m.name == "igzip -dc, fsync") durableIgzip = &m;
    struct Target {
        const char* text;
        bool met;
    };
    const double peakMiB = std::max(plain.PeakKiB(), cipher.PeakKiB()) / 1024.0;
    const Target targets[] = {
        {"cipher on <= 1.25 x durable igzip -dc",
         durableIgzip != nullptr &&
             cipher.Best() <= TARGET_VERSUS_DURABLE_IGZIP * durableIgzip->Best()},
        {"cipher on costs <= 5 %", cipherCost <= TARGET_CIPHER_COST},
        {"peak memory < 32 MiB", peakMiB < TARGET_PEAK_MIB},
        {"list mode < 30 ms", list.Best() < TARGET_LIST_SECONDS},
    };
    bool allMet = true;
    printf("\ntargets:\n");
    for (const Target& target : targets) {
        printf("  %-40s %s\n", target.text, target.met ? "met" : "MISSED");
        allMet = allMet && target.met;
    }
    return allMet ? 0 : 2;
}

void ShowLogs(const std::string& work) {
    for (const char* log :
         {"logs/download.log", "logs/devserver-plain.log", "logs/devserver-cipher.log",
          "logs/curl.log", "logs/gzip.log", "logs/pigz.log", "logs/igzip.log", "nginx/error.log"}) {
        const std::vector<std::string> lines =
            testsupport::Lines(testsupport::ReadFile(work + "/" + log));
        if (lines.empty()) continue;
        fprintf(stderr, "--- %s (last lines)\n", log);
        for (size_t i = lines.size() > 15 ? lines.size() - 15 : 0; i < lines.size(); ++i)
            fprintf(stderr, "%s\n", lines[i].c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseOptions(argc, argv, &options);
    if (parsed != 0) return parsed == 2 ? 0 : 1;
    std::unique_ptr<testsupport::TempDir> temporary;
    std::string work = options.work;
    if (work.empty()) {
        temporary = std::make_unique<testsupport::TempDir>();
        work = temporary->Path();
    } else {
        fs::create_directories(work);
        work = fs::absolute(work).string();
    }
    if (work.empty()) {
        fprintf(stderr, "download_bench: cannot make a work folder\n");
        return 1;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    int status;
    {
        Bench bench(options, work);
        status = bench.Run();
    }
    // The logs go with a temporary work folder: show them before it is removed.
    if (status == 1 && temporary) ShowLogs(work);
    return status;
}
