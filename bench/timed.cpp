// timed: runs a command and prints how it ended, how long it took and what
// crossed a network interface meanwhile, for the benchmark on network shares:
//
//   timed IFACE COMMAND [ARG...]
//
// prints "STATUS SECONDS RECEIVED SENT": the command's exit status (128 plus
// the signal that killed it), its wall-clock time, and the bytes that IFACE
// received and sent while it ran, read from the kernel's counters. It starts
// the clock after the counters are read and stops it before they are read
// again, so that neither reading counts as the command's time. Exits 0 when
// the command ran, whatever its status.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Reads one of the interface's byte counters; -1 when it cannot.
long long readCounter(const std::string &interface, const char *counter)
{
    const std::string path = "/sys/class/net/" + interface + "/statistics/" + counter;
    std::FILE *file = std::fopen(path.c_str(), "r");
    long long value = -1;
    if (file != nullptr) {
        if (std::fscanf(file, "%lld", &value) != 1) {
            value = -1;
        }
        std::fclose(file);
    }
    return value;
}

double secondsOf(const timespec &t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: timed IFACE COMMAND [ARG...]\n");
        return 2;
    }
    const std::string interface = argv[1];
    const long long received = readCounter(interface, "rx_bytes");
    const long long sent = readCounter(interface, "tx_bytes");
    if (received < 0 || sent < 0) {
        std::fprintf(stderr, "timed: no byte counters for %s\n", argv[1]);
        return 1;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "timed: cannot fork: %s\n", std::strerror(errno));
        return 1;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "timed: cannot run %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int wstatus = 0;
    while (waitpid(child, &wstatus, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "timed: cannot wait: %s\n", std::strerror(errno));
            return 1;
        }
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    std::printf("%d %.6f %lld %lld\n", status, secondsOf(end) - secondsOf(start),
                readCounter(interface, "rx_bytes") - received,
                readCounter(interface, "tx_bytes") - sent);
    return 0;
}
