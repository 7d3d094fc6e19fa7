// Stops from outside: the signals that end a run are caught so that the run
// can end its camera and clean up first, and the camera runs so that it never
// outlives the run.
#include "capture_internal.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What a terminal, timeout(1), systemd and a hung-up session send.
constexpr int stopSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

volatile std::sig_atomic_t stoppedBy = 0;
// Which of stopSignals catchStops caught, to give back their default.
bool caught[std::size(stopSignals)];
// The camera's process, while it runs; pid_t fits, as both are int on Linux.
volatile std::sig_atomic_t cameraProcess = 0;

// Notes the stop and passes it on to the camera, which may not have had it:
// kill(1), busybox's timeout and Python's subprocess signal picseries alone.
extern "C" void noteStop(int signal)
{
    const int saved = errno;
    stoppedBy = signal;
    if (cameraProcess > 0) {
        kill(static_cast<pid_t>(cameraProcess), signal);
    }
    errno = saved;
}

sigset_t stopSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : stopSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

} // namespace

void catchStops()
{
    struct sigaction action {};
    action.sa_handler = noteStop;
    action.sa_mask = stopSet();
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(stopSignals); ++i) {
        struct sigaction old {};
        // A background job of a non-interactive shell starts with SIGINT and
        // SIGQUIT ignored, and must not end on the terminal's Ctrl-C.
        caught[i] = sigaction(stopSignals[i], nullptr, &old) == 0 && old.sa_handler != SIG_IGN &&
                    sigaction(stopSignals[i], &action, nullptr) == 0;
    }
}

void uncatchStops()
{
    for (std::size_t i = 0; i < std::size(stopSignals); ++i) {
        if (caught[i]) {
            std::signal(stopSignals[i], SIG_DFL);
            caught[i] = false;
        }
    }
}

int stopSignal()
{
    return stoppedBy;
}

int runCamera(const char *command)
{
    // The shell is made to exec the camera, as dash would otherwise fork it:
    // so the camera is this process's own child, the stops passed on reach
    // it, and the parent-death signal set before the exec stays with it.
    char text[textCapacity + sizeof "exec "];
    std::snprintf(text, sizeof text, "exec %s", command);
    char *const argv[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), text, nullptr};
    // A caller that ignores SIGCHLD would have the camera reaped unseen.
    std::signal(SIGCHLD, SIG_DFL);
    // Blocked until the child has let go of the handlers, so that no stop is
    // caught there and lost at the exec.
    const sigset_t stops = stopSet();
    sigset_t saved;
    sigprocmask(SIG_BLOCK, &stops, &saved);
    if (stoppedBy != 0) {
        sigprocmask(SIG_SETMASK, &saved, nullptr);
        errno = EINTR;
        return -1;
    }
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        uncatchStops();
        sigprocmask(SIG_SETMASK, &saved, nullptr);
        // Killed along with picseries, even by SIGKILL; and at once where
        // picseries died before the signal was set.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
            _exit(127);
        }
        execv("/bin/sh", argv);
        _exit(127);
    }
    const int error = errno;
    cameraProcess = child > 0 ? child : 0;
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    if (child < 0) {
        errno = error;
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    cameraProcess = 0;
    return status;
}
