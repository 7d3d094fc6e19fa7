// scan_bench: times findHighestPictureNumber over one directory against the
// least any program can spend reading it, open, a bare getdents64 loop and
// close, and fails when the scan finds another number than the caller says.
//
//   scan_bench [Google Benchmark options] DIRECTORY HIGHEST
#include "capture.hpp"
#include "read_directory.hpp"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

bool failed = false; // a benchmark saw a wrong result; the exit status says so

// Times open, the bare getdents64 loop and close over directory.
void benchFloor(benchmark::State &state, const char *directory)
{
    for (auto _ : state) {
        const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const long bytes = fd < 0 ? -1 : readWholeDirectory(fd);
        if (fd >= 0) {
            close(fd);
        }
        if (bytes <= 0) {
            failed = true;
            state.SkipWithError("cannot read the directory");
            break;
        }
    }
}

// Times findHighestPictureNumber over directory, which must find highest.
void benchScan(benchmark::State &state, const char *directory, int highest)
{
    for (auto _ : state) {
        const int found = findHighestPictureNumber(directory);
        if (found != highest) {
            failed = true;
            state.SkipWithError(
                ("scan found Pic_" + std::to_string(found) + ", not Pic_" + std::to_string(highest))
                    .c_str());
            break;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (argc != 3) {
        std::fputs("usage: scan_bench [--benchmark_...] DIRECTORY HIGHEST\n", stderr);
        return 2;
    }
    const char *directory = argv[1];
    const int highest = std::atoi(argv[2]);
    benchmark::RegisterBenchmark("floor", benchFloor, directory)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("scan", benchScan, directory, highest)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return failed ? 1 : 0;
}
