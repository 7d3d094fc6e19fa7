#include "capture.hpp"

#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

// What /bin/sh, dash on the boards, searches for a command when PATH is unset.
constexpr char shellDefaultPath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// The white space that %d skips in the C locale, which the tool never leaves.
bool isScanSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The characters that keep a meaning for the shell inside double quotes.
bool isShellSpecial(char c)
{
    return c == '"' || c == '$' || c == '`' || c == '\\';
}

// Returns whether the listing's entry is a regular file, asking the file
// system when the listing leaves the type unreported; links never count.
bool isRegularEntry(DIR *dir, const dirent *entry)
{
    if (entry->d_type != DT_UNKNOWN) {
        return entry->d_type == DT_REG;
    }
    struct stat st {};
    return fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
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

// Looks at what the camera left at path, reading its first two bytes and its
// last two only; returns taken for a whole JPEG, which starts with the marker
// FF D8 and ends with the marker FF D9, cutOff for a file that holds
// something else, noPicture for nothing or no regular file. For a whole
// picture, fd is left open on it and st describes it.
CaptureStatus checkPicture(const char *path, int &fd, struct stat &st)
{
    // By name, because the camera may have put a file of its own in place of
    // the claim.
    fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return CaptureStatus::noPicture;
    }
    CaptureStatus status = CaptureStatus::noPicture;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        unsigned char start[2] = {};
        unsigned char end[2] = {};
        const bool whole = st.st_size >= 4 && pread(fd, start, 2, 0) == 2 &&
                           pread(fd, end, 2, st.st_size - 2) == 2 && start[0] == 0xFF &&
                           start[1] == 0xD8 && end[0] == 0xFF && end[1] == 0xD9;
        status = whole ? CaptureStatus::taken : CaptureStatus::cutOff;
    }
    if (status != CaptureStatus::taken) {
        close(fd);
        fd = -1;
    }
    return status;
}

// Returns whether a and b describe the same file; never when b is unknown.
bool isSameFile(const struct stat &a, const struct stat &b)
{
    return b.st_ino != 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Returns whether st describes a file dated with the mark of a claim.
bool carriesMark(const struct stat &st)
{
    return st.st_mtim.tv_sec == claimMark && st.st_mtim.tv_nsec == 0;
}

// Returns whether st describes an empty regular file that carries the mark
// of a claim.
bool isMarkedClaim(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_size == 0 && carriesMark(st);
}

// Removes the file that this run claimed, as long as it is still the empty
// file that the run created: for a capture that failed, or a claim it could
// not lock.
void releasePicture(const char *path, const struct stat &claimed)
{
    struct stat st {};
    if (lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 &&
        isSameFile(st, claimed)) {
        unlink(path);
    }
}

// Creates the picture file at path if no file of that name exists, locks it
// and marks it as this run's claim; returns its descriptor, or -1 with errno
// set, to EEXIST when the name is taken.
int claimPicture(const char *path, struct stat &claimed)
{
    // Mode 0666, so that the umask applies as it would to the camera's own.
    // Read-only, because the camera writes the picture by its name: watchers
    // of the directory see no empty file closed after writing. No
    // close-on-exec: the shell and the camera inherit the descriptor, so
    // that the lock lasts until the last process of the run has ended.
    const int fd = open(path, O_RDONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        return -1;
    }
    if (fstat(fd, &claimed) != 0) {
        // Without its identity the file is never removed: see releasePicture.
        claimed = {};
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // Only a locked claim is marked, since the mark lets other runs take
        // the file over once nobody holds its lock. Where the mark cannot be
        // set, the file is never taken over: a killed run leaves it behind.
        // Both times are set, because FUSE file systems such as ntfs-3g and
        // exfat-fuse change neither when one of them is left out.
        const timespec times[2] = {{0, UTIME_NOW}, {claimMark, 0}};
        futimens(fd, times);
    } else if (errno == EWOULDBLOCK) {
        // Another run's take-over check holds the new file for a moment. It
        // lets go on finding no mark, and would leave the file to count as a
        // picture for good, so the run that made it removes it.
        releasePicture(path, claimed);
        close(fd);
        errno = EEXIST;
        return -1;
    }
    // Any other failure, such as NFS refusing a lock to a read-only
    // descriptor, leaves the claim unlocked and so unmarked.
    return fd;
}

// Locks the picture file at path if it is a claim that its run abandoned:
// empty, marked and locked by no process; returns its descriptor, or -1.
int lockAbandonedClaim(const char *path, struct stat &claimed)
{
    struct stat st {};
    if (lstat(path, &st) != 0 || !isMarkedClaim(st)) {
        return -1;
    }
    // Read-only: a lock needs no write access, and a file opened for writing
    // looks changed to the watchers of the directory when it is closed.
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    // Checked again under the lock: the claim's run may have written its
    // picture meanwhile, or the name may have been removed and made anew.
    struct stat held {};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &held) != 0 || !isMarkedClaim(held) ||
        lstat(path, &st) != 0 || !isSameFile(st, held)) {
        close(fd);
        return -1;
    }
    claimed = held;
    return fd;
}

// Takes over the abandoned claims at the top of the series, from
// result.number down while they are contiguous: keeps the lowest, and removes
// the others as their killed runs would have. Returns the descriptor of the
// claim kept, with result's number and path set to it, or -1 when the top
// of the series is no abandoned claim.
int reclaimTop(const char *baseDirectory, CaptureResult &result, char (&command)[textCapacity],
               struct stat &claimed)
{
    // A picture path that fits, with its command, fits at every lower number.
    if (result.number < 1 || !formatPicturePath(result.path, baseDirectory, result.number) ||
        !formatCameraCommand(command, result.camera, result.path)) {
        return -1;
    }
    int fd = lockAbandonedClaim(result.path, claimed);
    if (fd < 0) {
        return -1;
    }
    char below[textCapacity];
    struct stat belowClaimed {};
    while (result.number > 1 && formatPicturePath(below, baseDirectory, result.number - 1)) {
        const int belowFd = lockAbandonedClaim(below, belowClaimed);
        if (belowFd < 0) {
            break;
        }
        releasePicture(result.path, claimed);
        close(fd);
        fd = belowFd;
        claimed = belowClaimed;
        --result.number;
        std::memcpy(result.path, below, sizeof below);
    }
    formatCameraCommand(command, result.camera, result.path);
    return fd;
}

// Flushes the picture open at fd, which st describes, to the disk, then the
// directory that names it as path, dating the picture now where it still
// carries the mark; returns 0, or errno.
int syncPicture(int fd, const struct stat &st, const char (&path)[textCapacity])
{
    // Some FUSE file systems, such as fusefat, keep a file's times when it is
    // written, which would date the picture 2000-01-01. A date is no reason
    // to fail a picture taken, so a failure here is let pass.
    if (carriesMark(st)) {
        futimens(fd, nullptr);
    }
    int error = fsync(fd) == 0 ? 0 : errno;
    if (error == 0) {
        // The directory is the path up to its last slash, the one before
        // "Pic_": "photos//" for "photos/", "/" for an empty directory name.
        char directory[textCapacity];
        std::memcpy(directory, path, sizeof directory);
        std::strrchr(directory, '/')[1] = '\0';
        const int dir = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            // A file system that has no way to flush a directory by itself
            // says EINVAL: its entries go to the disk with its files.
            error = fsync(dir) == 0 || errno == EINVAL ? 0 : errno;
            close(dir);
        } else if (errno == EACCES) {
            // A directory that may be written but not read: flush the whole
            // file system it lies on instead.
            error = syncfs(fd) == 0 ? 0 : errno;
        } else {
            error = errno;
        }
    }
    return error;
}

// Turns the status that system() gave for the camera command into the
// outcome of the capture.
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

} // namespace

bool readPictureNumber(const char *name, int &number)
{
    if (std::strncmp(name, "Pic_", 4) != 0) {
        return false;
    }
    const char *p = name + 4;
    while (isScanSpace(*p)) {
        ++p;
    }
    const bool hasSign = *p == '+' || *p == '-';
    if (!isDigit(p[hasSign ? 1 : 0])) {
        return false;
    }
    // from_chars takes a minus sign itself, but no plus sign.
    if (*p == '+') {
        ++p;
    }
    const std::from_chars_result read = std::from_chars(p, p + std::strlen(p), number);
    return read.ec == std::errc{};
}

int findHighestPictureNumber(const char *baseDirectory)
{
    DIR *dir = opendir(baseDirectory);
    if (dir == nullptr) {
        return 0;
    }
    int highest = 0;
    while (const dirent *entry = readdir(dir)) {
        int number = 0;
        if (readPictureNumber(entry->d_name, number) && number > highest &&
            isRegularEntry(dir, entry)) {
            highest = number;
        }
    }
    closedir(dir);
    return highest;
}

bool formatPicturePath(char (&path)[textCapacity], const char *baseDirectory, int number)
{
    const int length = std::snprintf(path, sizeof path, "%s/Pic_%d.jpg", baseDirectory, number);
    return length >= 0 && static_cast<std::size_t>(length) <= pictureNameLimit;
}

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

CaptureResult captureImage(const char *baseDirectory)
{
    CaptureResult result{};
    result.camera = findCameraProgram(std::getenv("PATH"));
    if (result.camera == nullptr) {
        result.status = CaptureStatus::noCamera;
        return result;
    }
    char command[textCapacity];
    struct stat claimed {};
    result.number = findHighestPictureNumber(baseDirectory);
    int claim = reclaimTop(baseDirectory, result, command, claimed);
    // The scan can miss pictures, and other runs can claim numbers meanwhile:
    // a name that turns out to be taken moves the capture on to the next.
    while (claim < 0) {
        if (result.number == INT_MAX) {
            result.status = CaptureStatus::seriesFull;
            return result;
        }
        ++result.number;
        if (!formatPicturePath(result.path, baseDirectory, result.number)) {
            result.status = CaptureStatus::pathTooLong;
            return result;
        }
        if (!formatCameraCommand(command, result.camera, result.path)) {
            result.status = CaptureStatus::commandTooLong;
            return result;
        }
        claim = claimPicture(result.path, claimed);
        if (claim < 0 && errno != EEXIST) {
            result.status = CaptureStatus::cannotCreate;
            result.detail = errno;
            return result;
        }
    }
    // The camera is run through the shell by design, with the path escaped.
    judgeCamera(std::system(command), result); // NOLINT(cert-env33-c)
    int picture = -1;
    struct stat st {};
    if (result.status == CaptureStatus::taken) {
        // Exit 0 says little: the camera program exits 0 on a full disk too,
        // having written only the front of the picture.
        result.status = checkPicture(result.path, picture, st);
    }
    if (result.status != CaptureStatus::taken) {
        releasePicture(result.path, claimed);
    } else if (const int error = syncPicture(picture, st, result.path); error != 0) {
        result.status = CaptureStatus::cannotSync;
        result.detail = error;
    }
    if (picture >= 0) {
        close(picture);
    }
    close(claim);
    return result;
}
