// max_rss: runs a program with its output thrown away, waits for it, and
// prints "<peak resident set size in KiB> <exit status>" on standard output;
// the exit status is -N when signal N ended the program.
//
// The peak is ru_maxrss of wait4, the largest of the program and the children
// it waited for. A child's count starts from its parent's resident memory,
// through fork's copied pages or, with posix_spawn's shared address space, the
// parent's own peak; so the parent has to be as small as this program, not
// the benchmark, or the benchmark's size would hide the program's.
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fputs("usage: max_rss PROGRAM [ARGUMENT...]\n", stderr);
        return 2;
    }
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0 ||
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) != 0) {
        return 1;
    }
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[1], &actions, nullptr, argv + 1, environ) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("wait4");
        return 1;
    }
    const int outcome = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    std::printf("%ld %d\n", usage.ru_maxrss, outcome);
    return 0;
}
