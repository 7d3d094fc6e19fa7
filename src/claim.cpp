// The claim that keeps the series whole: creating, locking and marking the
// picture file, taking over what killed runs left, releasing it, flushing it.
#include "capture.hpp"
#include "capture_internal.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Returns whether time is the mark of a claim.
bool isMark(const timespec &time)
{
    return time.tv_sec == claimMark && time.tv_nsec == 0;
}

// Returns whether st describes a file dated with the mark of a claim, by
// either of its times.
bool carriesMark(const struct stat &st)
{
    return isMark(st.st_atim) || isMark(st.st_mtim);
}

// Returns whether st describes an empty regular file that carries the mark
// of a claim.
bool isMarkedClaim(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_size == 0 && carriesMark(st);
}

// Locks the claim open at fd and, once it is locked, marks it; returns
// whether it is locked, with errno where it is not. Only a locked claim is
// marked, since the mark lets other runs take the file over once nobody
// holds its lock; where the mark cannot be set, the file is never taken
// over: a killed run leaves it behind. Both times are set, because FUSE file
// systems such as ntfs-3g and exfat-fuse change neither when one of them is
// left out.
bool lockAndMark(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    const timespec marks[2] = {{claimMark, 0}, {claimMark, 0}};
    futimens(fd, marks);
    return true;
}

// Locks the picture file name if it is a claim that its run abandoned: empty,
// marked, locked by no process, and one that this run's camera may write;
// returns its descriptor, or -1.
int lockAbandonedClaim(int series, const char *name, ClaimLock lock, struct stat &claimed)
{
    struct stat st {};
    if (lock == ClaimLock::none || fstatat(series, name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !isMarkedClaim(st)) {
        return -1;
    }
    // Read-only: flock(2) needs no write access, and a file opened for
    // writing looks changed to the watchers of the directory when it is
    // closed.
    const int fd = openat(series, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    // Checked again under the lock: the claim's run may have written its
    // picture meanwhile, or the name may have been removed and made anew.
    // Another user's claim that the camera could not open counts as that
    // user's file, so that the series goes on above it.
    struct stat held {};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &held) != 0 || !isMarkedClaim(held) ||
        fstatat(series, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !isSameFile(st, held) ||
        faccessat(series, name, W_OK, AT_EACCESS) != 0) {
        close(fd);
        return -1;
    }
    claimed = held;
    return fd;
}

} // namespace

void releasePicture(int series, const char *name, const struct stat &claimed)
{
    struct stat st {};
    if (fstatat(series, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_size == 0 && isSameFile(st, claimed)) {
        unlinkat(series, name, 0);
    }
}

bool claimPicture(int series, const char *name, ClaimLock lock, int &fd, struct stat &claimed)
{
    // Mode 0666, so that the umask applies as it would to the camera's own.
    // Read-only where the claim is locked, because the camera writes the
    // picture by its name: watchers of the directory see no empty file closed
    // after writing. No close-on-exec there: the shell and the camera inherit
    // the descriptor, so that the lock lasts until the last process of the
    // run has ended. Where nothing is locked, the file is created for
    // writing and closed at once, since rclone refuses a file created for
    // reading and lets only one writer at a time open it.
    fd = lock == ClaimLock::file
             ? openat(series, name, O_RDONLY | O_CREAT | O_EXCL, 0666)
             : openat(series, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        // SFTP, behind sshfs, has no word of its own for a name that exists.
        const int error = errno;
        struct stat st {};
        errno = error == EEXIST || fstatat(series, name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? EEXIST
                                                                                        : error;
        return false;
    }
    // Where it is locked, locked and marked first: the mark is what lets the
    // next run take over the claim of a run killed from here on.
    const int lockError = lock == ClaimLock::none || lockAndMark(fd) ? 0 : errno;
    if (fstat(fd, &claimed) != 0) {
        // Without its identity the file is never removed: see releasePicture.
        claimed = {};
    }
    if (lock == ClaimLock::none) {
        close(fd);
        fd = -1;
        return true;
    }
    if (lockError == EWOULDBLOCK) {
        // Another run's take-over check holds the new file for a moment. It
        // lets go on finding no mark, and would leave the file to count as a
        // picture for good, so the run that made it removes it.
        releasePicture(series, name, claimed);
        close(fd);
        fd = -1;
        errno = EEXIST;
        return false;
    }
    // Any other failure leaves the claim unlocked and so unmarked.
    return true;
}

int reclaimTop(int series, const char *baseDirectory, int floor, ClaimLock lock,
               CaptureResult &result, char (&command)[textCapacity], struct stat &claimed)
{
    // A picture path that fits, with its command, fits at every lower number.
    if (result.number <= floor || !formatPicturePath(result.path, baseDirectory, result.number) ||
        !formatCameraCommand(command, result.camera, result.path)) {
        return -1;
    }
    int fd = lockAbandonedClaim(series, pictureName(result.path), lock, claimed);
    if (fd < 0) {
        return -1;
    }
    char below[textCapacity];
    struct stat belowClaimed {};
    while (result.number - 1 > floor &&
           formatPicturePath(below, baseDirectory, result.number - 1)) {
        const int belowFd = lockAbandonedClaim(series, pictureName(below), lock, belowClaimed);
        if (belowFd < 0) {
            break;
        }
        releasePicture(series, pictureName(result.path), claimed);
        close(fd);
        fd = belowFd;
        claimed = belowClaimed;
        --result.number;
        std::memcpy(result.path, below, sizeof below);
    }
    formatCameraCommand(command, result.camera, result.path);
    return fd;
}

int syncPicture(int fd, const struct stat &st, int series)
{
    // Some FUSE file systems, such as fusefat, keep a file's times when it is
    // written, which would date the picture 2000-01-01. A date is no reason
    // to fail a picture taken, so a failure here is let pass.
    if (carriesMark(st)) {
        futimens(fd, nullptr);
    }
    if (fsync(fd) != 0) {
        return errno;
    }
    // A file system that has no way to flush a directory by itself says
    // EINVAL: its entries go to the disk with its files. A directory that
    // may be written but not read, open as a place only, cannot be flushed
    // alone: its whole file system is.
    if (fsync(series) == 0 || errno == EINVAL) {
        return 0;
    }
    return errno != EBADF ? errno : syncfs(fd) == 0 ? 0 : errno;
}
