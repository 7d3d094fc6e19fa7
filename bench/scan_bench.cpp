// picseries_bench: how long picseries takes to find the next picture number,
// against the least any program can spend reading the same directory.
//
// In process, findHighestPictureNumber is timed against open, a bare
// getdents64 loop and close. As whole runs, "picseries DIR image" with the
// camera stand-in exiting at once is timed against getdents_floor, a process
// that only reads the directory. Both sides of each pair read the same
// directory, warm in the page cache after the first pass. A table of medians,
// their ratios and the peak memory of the runs follows the benchmarks.
#include "bench_directory.hpp"
#include "bench_paths.hpp"
#include "capture.hpp"
#include "read_directory.hpp"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr int cameraFailedStatus = 69; // what picseries says when no picture came

struct Options {
    std::string benchDir = "/var/tmp/picseries-bench";
    std::vector<long> sizes = {1000, 100000, 1000000};
    int rssRuns = 5;
};

// A prepared directory and what a scan of it must find.
struct Subject {
    long files = 0;
    long entries = 0;
    std::string path;
    int highest = 0;
};

enum class Measure { floorInProcess, scan, floorProcess, picseriesRun };

// A command line whose strings outlive the pointers handed to posix_spawn.
struct Command {
    std::vector<std::string> words;

    std::vector<char *> argv()
    {
        std::vector<char *> pointers;
        for (std::string &word : words) {
            pointers.push_back(word.data());
        }
        pointers.push_back(nullptr);
        return pointers;
    }
};

// The environment picseries runs in: the stand-in first on PATH, told to exit
// at once without a picture, and no other instructions for it.
struct CameraEnvironment {
    std::vector<std::string> variables;
    std::vector<char *> pointers;

    CameraEnvironment()
    {
        std::string path = "/usr/local/bin:/usr/bin:/bin";
        for (char **variable = environ; *variable != nullptr; ++variable) {
            if (std::strncmp(*variable, "PATH=", 5) == 0) {
                path = *variable + 5;
            } else if (std::strncmp(*variable, "CAMERA_STANDIN_", 15) != 0) {
                variables.emplace_back(*variable);
            }
        }
        variables.push_back("PATH=" + std::string(cameraDirectory) + ":" + path);
        variables.emplace_back("CAMERA_STANDIN_SILENT=1");
        for (std::string &variable : variables) {
            pointers.push_back(variable.data());
        }
        pointers.push_back(nullptr);
    }
};

CameraEnvironment *cameraEnvironment = nullptr;
posix_spawn_file_actions_t quietOutput; // standard output and error to /dev/null

// Runs command in envp with its output thrown away and waits for it; returns
// its exit status, -N when signal N ended it, or -1000 when it did not start.
int runQuietly(Command &command, char *const *envp)
{
    std::vector<char *> argv = command.argv();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &quietOutput, nullptr, argv.data(), envp) != 0) {
        return -1000;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1000;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Times open, the bare getdents64 loop and close over the directory.
void benchFloorInProcess(benchmark::State &state, const Subject &subject)
{
    for (auto _ : state) {
        const int fd = open(subject.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const long bytes = fd < 0 ? -1 : readWholeDirectory(fd);
        if (fd >= 0) {
            close(fd);
        }
        if (bytes <= 0) {
            state.SkipWithError(("cannot read " + subject.path).c_str());
            break;
        }
    }
}

// Times findHighestPictureNumber and fails when it finds another number.
void benchScan(benchmark::State &state, const Subject &subject)
{
    for (auto _ : state) {
        const int highest = findHighestPictureNumber(subject.path.c_str());
        if (highest != subject.highest) {
            state.SkipWithError(("scan found Pic_" + std::to_string(highest) + ", not Pic_" +
                                 std::to_string(subject.highest))
                                    .c_str());
            break;
        }
    }
}

// Times starting getdents_floor over the directory and waiting for it.
void benchFloorProcess(benchmark::State &state, const Subject &subject)
{
    Command command{{getdentsFloorPath, subject.path}};
    for (auto _ : state) {
        const int status = runQuietly(command, environ);
        if (status != 0) {
            state.SkipWithError(("getdents_floor ended with " + std::to_string(status)).c_str());
            break;
        }
    }
}

// Times a whole "picseries DIR image" with the stand-in exiting at once, and
// fails unless every run ends with 69 and the directory stays as it was.
void benchPicseriesRun(benchmark::State &state, const Subject &subject)
{
    Command command{{picseriesPath, subject.path, "image"}};
    for (auto _ : state) {
        const int status = runQuietly(command, cameraEnvironment->pointers.data());
        if (status != cameraFailedStatus) {
            state.SkipWithError(("picseries ended with " + std::to_string(status) +
                                 " instead of 69 (camera wrote no picture)")
                                    .c_str());
            break;
        }
    }
    // The directory must stay as it was, or the next run would scan another.
    const std::string next = subject.path + "/Pic_" + std::to_string(subject.highest + 1) + ".jpg";
    struct stat info {};
    if (lstat(next.c_str(), &info) == 0) {
        state.SkipWithError(("picseries left " + next + " behind").c_str());
    }
}

// Passes every run on to the console and keeps the median time of each
// benchmark, or its only time when there are no repetitions.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred) {
                ++errors;
                continue;
            }
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool only = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (median || only) {
                seconds[run.run_name.function_name] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
                repetitions = std::max(repetitions, run.repetitions);
            }
        }
    }

    std::map<std::string, double> seconds;
    std::int64_t repetitions = 0;
    int errors = 0;
};

// The benchmark's name for measure over the directory of files regular files.
std::string benchmarkName(Measure measure, long files)
{
    static const char *const names[] = {"floor/getdents64", "scan/findHighestPictureNumber",
                                        "run/getdents_floor", "run/picseries"};
    return std::string(names[static_cast<int>(measure)]) + "/" + std::to_string(files);
}

// Registers the four measures over one directory, timed by the wall clock.
void registerBenchmarks(const Subject &subject)
{
    const auto add = [&subject](Measure measure,
                                void (*bench)(benchmark::State &, const Subject &)) {
        benchmark::RegisterBenchmark(benchmarkName(measure, subject.files).c_str(), bench, subject)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    };
    add(Measure::floorInProcess, benchFloorInProcess);
    add(Measure::scan, benchScan);
    add(Measure::floorProcess, benchFloorProcess);
    add(Measure::picseriesRun, benchPicseriesRun);
}

// Runs command under max_rss `runs` times; returns the median of its peak
// resident set sizes in KiB, or -1 when a run fails or ends other than with
// expectedStatus.
long medianPeakKiB(const Command &command, char *const *envp, int expectedStatus, int runs)
{
    std::vector<long> peaks;
    for (int run = 0; run < runs; ++run) {
        Command measured{{maxRssPath}};
        measured.words.insert(measured.words.end(), command.words.begin(), command.words.end());
        std::vector<char *> argv = measured.argv();
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) {
            return -1;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        char output[64] = {};
        std::size_t length = 0;
        for (ssize_t got = 1; spawned == 0 && got > 0 && length < sizeof output - 1;) {
            got = read(pipeFds[0], output + length, sizeof output - 1 - length);
            length += got > 0 ? static_cast<std::size_t>(got) : 0;
        }
        close(pipeFds[0]);
        int status = 0;
        if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            return -1;
        }
        char *end = nullptr;
        const long peak = std::strtol(output, &end, 10);
        const long outcome = std::strtol(end, nullptr, 10);
        if (end == output || outcome != expectedStatus) {
            return -1;
        }
        peaks.push_back(peak);
    }
    if (peaks.empty()) {
        return -1;
    }
    std::sort(peaks.begin(), peaks.end());
    return peaks[peaks.size() / 2];
}

// Reads a comma-separated list of directory sizes; returns whether it was one.
bool readSizes(const char *text, std::vector<long> &sizes)
{
    sizes.clear();
    for (const char *p = text; *p != '\0';) {
        char *end = nullptr;
        errno = 0;
        const long size = std::strtol(p, &end, 10);
        // Pictures are numbered up to the size, which must stay within int.
        if (errno != 0 || end == p || size < 1 || size > 100000000 ||
            (*end != ',' && *end != '\0')) {
            return false;
        }
        sizes.push_back(size);
        p = *end == ',' ? end + 1 : end;
    }
    return !sizes.empty();
}

void printHelp()
{
    std::printf("picseries_bench [--bench_dir=PATH] [--sizes=N,N,...] [--rss_runs=N]\n"
                "                [benchmark options]\n"
                "  --bench_dir=PATH  where the test directories are made and kept\n"
                "                    (default /var/tmp/picseries-bench; use a disk, not tmpfs)\n"
                "  --sizes=LIST      regular files per directory (default "
                "1000,100000,1000000)\n"
                "  --rss_runs=N      runs per peak memory figure, 0 for none (default 5)\n"
                "Defaults passed on to the benchmark library, which later options override:\n"
                "  --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true\n"
                "  --benchmark_display_aggregates_only=true\n\n");
    benchmark::PrintDefaultHelp();
}

// Takes this program's own options out of argv and puts the benchmark
// library's defaults before the rest; returns false on a bad option.
bool readOptions(int argc, char **argv, Options &options, std::vector<std::string> &passedOn)
{
    passedOn = {argv[0], "--benchmark_repetitions=9", "--benchmark_enable_random_interleaving=true",
                "--benchmark_display_aggregates_only=true"};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--bench_dir=", 0) == 0) {
            options.benchDir = argument.substr(12);
            while (options.benchDir.size() > 1 && options.benchDir.back() == '/') {
                options.benchDir.pop_back();
            }
            if (options.benchDir.empty()) {
                return false;
            }
        } else if (argument.rfind("--sizes=", 0) == 0) {
            if (!readSizes(argument.c_str() + 8, options.sizes)) {
                return false;
            }
        } else if (argument.rfind("--rss_runs=", 0) == 0) {
            char *end = nullptr;
            const long runs = std::strtol(argument.c_str() + 11, &end, 10);
            if (*end != '\0' || runs < 0 || runs > 1000) {
                return false;
            }
            options.rssRuns = static_cast<int>(runs);
        } else {
            passedOn.push_back(argument);
        }
    }
    return true;
}

std::string formatMs(double seconds)
{
    if (seconds <= 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
    return text;
}

std::string formatRatio(double numerator, double denominator)
{
    if (numerator <= 0 || denominator <= 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", numerator / denominator);
    return text;
}

std::string formatKiB(long kib)
{
    return kib < 0 ? "-" : std::to_string(kib) + " KiB";
}

struct Row {
    const Subject *subject;
    double floor, scan, floorProcess, run; // median seconds, 0 when not measured
    long floorPeak, runPeak;               // median KiB, -1 when not measured
};

// Prints the table of medians and ratios and how each target fares; the
// verdicts inform, they never change the exit status.
void printSummary(const std::vector<Row> &rows, std::int64_t repetitions,
                  const std::string &benchDir, int rssRuns)
{
    std::printf("\npicseries scan vs. getdents64 floor: wall clock, median of %lld "
                "repetition(s); %s (%s)\n",
                static_cast<long long>(repetitions), benchDir.c_str(),
                describeFileSystem(benchDir).c_str());
    std::printf("%10s %10s | %16s %16s %10s | %16s %16s %10s | %14s %14s\n", "files", "entries",
                "getdents64 loop", "in-process scan", "scan/floor", "floor process",
                "picseries run", "run/floor", "peak floor", "peak picseries");
    for (const Row &row : rows) {
        std::printf("%10ld %10ld | %16s %16s %10s | %16s %16s %10s | %14s %14s\n",
                    row.subject->files, row.subject->entries, formatMs(row.floor).c_str(),
                    formatMs(row.scan).c_str(), formatRatio(row.scan, row.floor).c_str(),
                    formatMs(row.floorProcess).c_str(), formatMs(row.run).c_str(),
                    formatRatio(row.run, row.floorProcess).c_str(),
                    formatKiB(row.floorPeak).c_str(), formatKiB(row.runPeak).c_str());
    }
    if (rssRuns > 0) {
        std::printf("Peak memory: ru_maxrss of the run (largest of its processes), median of %d "
                    "run(s).\n",
                    rssRuns);
    }
    std::printf("\nTargets:\n");
    int judged = 0;
    const auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    for (const Row &row : rows) {
        if (row.subject->files >= 100000 && row.floor > 0 && row.scan > 0) {
            ++judged;
            std::printf("  in-process scan <= 1.15 x floor at %ld files: %.3f, %s\n",
                        row.subject->files, row.scan / row.floor,
                        verdict(row.scan <= 1.15 * row.floor));
        }
    }
    for (const Row &row : rows) {
        if (row.subject->files >= 1000000 && row.floorProcess > 0 && row.run > 0) {
            ++judged;
            std::printf("  whole run <= 1.25 x floor process at %ld files: %.3f, %s\n",
                        row.subject->files, row.run / row.floorProcess,
                        verdict(row.run <= 1.25 * row.floorProcess));
        }
    }
    const Row &smallest = rows.front();
    const Row &largest = rows.back();
    if (rows.size() > 1 && smallest.runPeak > 0 && largest.runPeak > 0) {
        // Growth within 5 % is what the page cache and allocator wobble by.
        ++judged;
        std::printf("  peak memory of picseries flat (within 5 %%) from %ld to %ld files: "
                    "%ld -> %ld KiB, %s\n",
                    smallest.subject->files, largest.subject->files, smallest.runPeak,
                    largest.runPeak, verdict(largest.runPeak * 100 <= smallest.runPeak * 105));
    }
    if (judged == 0) {
        std::printf("  none apply to these sizes\n");
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    std::vector<std::string> passedOn;
    if (!readOptions(argc, argv, options, passedOn)) {
        std::fputs("picseries_bench: bad option; --help tells the options\n", stderr);
        return 2;
    }
    std::vector<char *> benchmarkArgv;
    for (std::string &argument : passedOn) {
        benchmarkArgv.push_back(argument.data());
    }
    int benchmarkArgc = static_cast<int>(benchmarkArgv.size());
    benchmarkArgv.push_back(nullptr);
    benchmark::Initialize(&benchmarkArgc, benchmarkArgv.data(), printHelp);
    if (benchmark::ReportUnrecognizedArguments(benchmarkArgc, benchmarkArgv.data())) {
        return 2;
    }

    std::sort(options.sizes.begin(), options.sizes.end());
    options.sizes.erase(std::unique(options.sizes.begin(), options.sizes.end()),
                        options.sizes.end());
    std::vector<Subject> subjects;
    for (const long files : options.sizes) {
        Subject subject;
        subject.path = prepareDirectory(options.benchDir, files);
        if (subject.path.empty()) {
            return 1;
        }
        const DirectoryLayout layout = layoutFor(files);
        subject.files = files;
        subject.entries = layout.files + layout.subdirectories;
        subject.highest = static_cast<int>(layout.pictures);
        subjects.push_back(subject);
    }
    std::fprintf(stderr, "picseries_bench: directories in %s (%s)\n", options.benchDir.c_str(),
                 describeFileSystem(options.benchDir).c_str());

    CameraEnvironment environment;
    cameraEnvironment = &environment;
    posix_spawn_file_actions_init(&quietOutput);
    posix_spawn_file_actions_addopen(&quietOutput, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quietOutput, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    for (const Subject &subject : subjects) {
        registerBenchmarks(subject);
    }
    MedianReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                  : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::vector<Row> rows;
    bool peakFailed = false;
    for (const Subject &subject : subjects) {
        Row row{&subject, 0, 0, 0, 0, -1, -1};
        const auto median = [&](Measure measure) {
            const auto found = reporter.seconds.find(benchmarkName(measure, subject.files));
            return found == reporter.seconds.end() ? 0.0 : found->second;
        };
        row.floor = median(Measure::floorInProcess);
        row.scan = median(Measure::scan);
        row.floorProcess = median(Measure::floorProcess);
        row.run = median(Measure::picseriesRun);
        if (options.rssRuns > 0) {
            row.floorPeak = medianPeakKiB(Command{{getdentsFloorPath, subject.path}}, environ, 0,
                                          options.rssRuns);
            row.runPeak =
                medianPeakKiB(Command{{picseriesPath, subject.path, "image"}},
                              environment.pointers.data(), cameraFailedStatus, options.rssRuns);
            peakFailed = peakFailed || row.floorPeak < 0 || row.runPeak < 0;
        }
        rows.push_back(row);
    }
    printSummary(rows, reporter.repetitions, options.benchDir, options.rssRuns);
    posix_spawn_file_actions_destroy(&quietOutput);
    if (peakFailed) {
        std::fputs("picseries_bench: a run under max_rss failed\n", stderr);
    }
    return reporter.errors > 0 || peakFailed ? 1 : 0;
}
