// The camera program: finding it on the PATH as the shell would, forming its
// command, judging how it ended, and checking the picture it left.
#include "capture.hpp"
#include "capture_internal.hpp"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What /bin/sh, dash on the boards, searches for a command when PATH is unset.
constexpr char shellDefaultPath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// The characters that keep a meaning for the shell inside double quotes.
bool isShellSpecial(char c)
{
    return c == '"' || c == '$' || c == '`' || c == '\\';
}

// Returns whether this process may run the file that st describes, judged
// from its permission bits as bash judges commands: root whenever anyone may.
// Not by access(2), which user-mode emulators that translate paths (proot
// with qemu) answer for the host's file, so that the board's userland could
// not be checked on another machine.
bool mayRun(const struct stat &st)
{
    const uid_t user = geteuid();
    if (user == 0) {
        return (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    }
    if (st.st_uid == user) {
        return (st.st_mode & S_IXUSR) != 0;
    }
    if (st.st_gid == getegid() || group_member(st.st_gid) != 0) {
        return (st.st_mode & S_IXGRP) != 0;
    }
    return (st.st_mode & S_IXOTH) != 0;
}

// Returns whether the first length bytes of directory, an entry of a search
// path, name a directory that holds program as a regular file that may be
// run.
bool holdsProgram(const char *directory, std::size_t length, const char *program)
{
    char candidate[PATH_MAX];
    // An empty entry stands for the current directory, as it does for the shell.
    const int n = length == 0 ? std::snprintf(candidate, sizeof candidate, "%s", program)
                              : std::snprintf(candidate, sizeof candidate, "%.*s/%s",
                                              static_cast<int>(length), directory, program);
    struct stat st {};
    return n > 0 && static_cast<std::size_t>(n) < sizeof candidate && stat(candidate, &st) == 0 &&
           S_ISREG(st.st_mode) && mayRun(st);
}

// Reads the first two bytes and the last two of the file open at fd, with st
// set to describe it, and judges it as checkPicture does.
CaptureStatus checkEnds(int fd, struct stat &st)
{
    if (fstat(fd, &st) != 0) {
        return CaptureStatus::cannotCheck;
    }
    if (!S_ISREG(st.st_mode) || st.st_size == 0) {
        return CaptureStatus::noPicture;
    }
    unsigned char start[2] = {};
    unsigned char end[2] = {};
    const ssize_t first = st.st_size >= 4 ? pread(fd, start, 2, 0) : 0;
    const ssize_t last = first == 2 ? pread(fd, end, 2, st.st_size - 2) : 0;
    if (first < 0 || last < 0) {
        return CaptureStatus::cannotCheck;
    }
    // Shorter than fstat said, it was cut while it was read.
    const bool whole =
        last == 2 && start[0] == 0xFF && start[1] == 0xD8 && end[0] == 0xFF && end[1] == 0xD9;
    return whole ? CaptureStatus::taken : CaptureStatus::cutOff;
}

} // namespace

const char *findCameraProgram(const char *searchPath)
{
    const char *directories = searchPath != nullptr ? searchPath : shellDefaultPath;
    for (const char *program : cameraPrograms) {
        const char *entry = directories;
        for (;;) {
            const std::size_t length = std::strcspn(entry, ":");
            if (holdsProgram(entry, length, program)) {
                return program;
            }
            if (entry[length] == '\0') {
                break;
            }
            entry += length + 1;
        }
    }
    return nullptr;
}

bool formatCameraCommand(char (&command)[textCapacity], const char *camera, const char *picturePath)
{
    const int front =
        std::snprintf(command, sizeof command, "%s --width 1024 --height 768 -o \"", camera);
    if (front < 0 || static_cast<std::size_t>(front) >= sizeof command) {
        return false;
    }
    auto length = static_cast<std::size_t>(front);
    for (const char *p = picturePath; *p != '\0'; ++p) {
        const bool doubled = *p == '%';
        const std::size_t width = isShellSpecial(*p) || doubled ? 2 : 1;
        // Keep room for the closing quote and the terminating zero.
        if (length + width + 2 > sizeof command) {
            command[length] = '\0';
            return false;
        }
        if (width == 2) {
            command[length++] = doubled ? '%' : '\\';
        }
        command[length++] = *p;
    }
    command[length++] = '"';
    command[length] = '\0';
    return true;
}

void judgeCamera(int status, CaptureResult &result)
{
    if (status == -1) {
        result.status = CaptureStatus::cannotRun;
        result.detail = errno;
    } else if (WIFSIGNALED(status)) {
        result.status = CaptureStatus::cameraKilled;
        result.detail = WTERMSIG(status);
    } else if (WEXITSTATUS(status) > 128 && WEXITSTATUS(status) - 128 < NSIG) {
        // The shell's way of saying that the command it waited for was
        // killed by signal status - 128.
        result.status = CaptureStatus::cameraKilled;
        result.detail = WEXITSTATUS(status) - 128;
    } else if (WEXITSTATUS(status) == 127) {
        // The shell's own status for a command it could not find.
        result.status = CaptureStatus::cameraNotFound;
    } else if (WEXITSTATUS(status) != 0) {
        result.status = CaptureStatus::cameraFailed;
        result.detail = WEXITSTATUS(status);
    } else {
        // Taken, as far as the camera's status tells: the picture itself is
        // looked at next.
        result.status = CaptureStatus::taken;
    }
}

CaptureStatus checkPicture(int series, const char *name, int &fd, struct stat &st)
{
    // By name, because the camera may have put a file of its own in place of
    // the claim.
    fd = openat(series, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // A link in the picture's place is no picture either.
        return errno == ENOENT || errno == ELOOP ? CaptureStatus::noPicture
                                                 : CaptureStatus::cannotCheck;
    }
    const CaptureStatus status = checkEnds(fd, st);
    if (status != CaptureStatus::taken) {
        const int error = errno;
        close(fd);
        fd = -1;
        errno = error;
    }
    return status;
}
