// The claim that keeps the series whole: creating, locking and marking the
// picture file, taking over what killed runs left, releasing it, flushing it.
#include "capture.hpp"
#include "capture_internal.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// The types that statfs(2) reports for the kernel's NFS and SMB clients.
constexpr std::uint32_t nfsMagic = 0x6969;
constexpr std::uint32_t smbMagic = 0xFF534D42;
constexpr std::uint32_t smb2Magic = 0xFE534D42;

// The byte that a claim's lock covers on a share, far past the end of any
// picture: SMB servers refuse every other writer the bytes of a lock.
constexpr off_t claimByte = off_t{1} << 62;

// Returns whether the comma-separated options hold option as a whole word.
bool hasOption(const char *options, const char *option)
{
    const std::size_t length = std::strlen(option);
    for (const char *p = options; p != nullptr; p = std::strchr(p, ',')) {
        p += *p == ',' ? 1 : 0;
        if (std::strncmp(p, option, length) == 0 && (p[length] == ',' || p[length] == '\0')) {
            return true;
        }
    }
    return false;
}

// Returns whether the share on device dev keeps its locks on this machine, as
// it does when mounted with nobrl (SMB) or nolock or local_lock=posix or all
// (NFS), and also when its mount options cannot be read.
bool locksStayHere(dev_t dev)
{
    std::FILE *mounts = std::fopen("/proc/self/mountinfo", "re");
    if (mounts == nullptr) {
        return true;
    }
    // The device is the third field of a line: "36 35 0:52 / /mnt rw ...".
    char device[32];
    std::snprintf(device, sizeof device, " %u:%u ", major(dev), minor(dev));
    bool here = true;
    bool whole = true;
    char line[4096];
    while (std::fgets(line, sizeof line, mounts) != nullptr) {
        const bool starts = whole;
        whole = std::strchr(line, '\n') != nullptr;
        const char *third = std::strchr(line, ' ');
        third = third != nullptr ? std::strchr(third + 1, ' ') : nullptr;
        if (!starts || third == nullptr || std::strncmp(third, device, std::strlen(device)) != 0) {
            continue;
        }
        // The file system's own options are the last field; a line too long
        // for the buffer leaves the answer at yes.
        line[std::strcspn(line, "\n")] = '\0';
        const char *options = std::strrchr(line, ' ');
        if (whole && options != nullptr) {
            here = hasOption(options + 1, "nobrl") || hasOption(options + 1, "nolock") ||
                   hasOption(options + 1, "local_lock=posix") ||
                   hasOption(options + 1, "local_lock=all");
        }
        break;
    }
    std::fclose(mounts);
    return here;
}

// Locks the claim open at fd as lock says: the whole file exclusively, or
// the claim's byte with type, F_RDLCK for the run that made the claim and
// F_WRLCK for a take-over; returns whether it holds the lock.
bool lockClaim(int fd, ClaimLock lock, short type)
{
    if (lock == ClaimLock::file) {
        return flock(fd, LOCK_EX | LOCK_NB) == 0;
    }
    // Open file description locks, which the shell and the camera inherit
    // with the descriptor, as they inherit flock(2) locks.
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = claimByte;
    range.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &range) == 0;
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

// Locks the picture file at path if it is a claim that its run abandoned:
// empty, marked and locked by no process; returns its descriptor, or -1.
int lockAbandonedClaim(const char *path, ClaimLock lock, struct stat &claimed)
{
    struct stat st {};
    if (lock == ClaimLock::none || lstat(path, &st) != 0 || !isMarkedClaim(st)) {
        return -1;
    }
    // Read-only on a local drive: flock(2) needs no write access, and a file
    // opened for writing looks changed to the watchers of the directory when
    // it is closed. On a share, only a write lock keeps out the claim's read
    // lock, and a write lock needs a descriptor open for writing.
    const int fd =
        open(path, (lock == ClaimLock::file ? O_RDONLY : O_RDWR) | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    // Checked again under the lock: the claim's run may have written its
    // picture meanwhile, or the name may have been removed and made anew.
    struct stat held {};
    if (!lockClaim(fd, lock, F_WRLCK) || fstat(fd, &held) != 0 || !isMarkedClaim(held) ||
        lstat(path, &st) != 0 || !isSameFile(st, held)) {
        close(fd);
        return -1;
    }
    claimed = held;
    return fd;
}

} // namespace

void releasePicture(const char *path, const struct stat &claimed)
{
    struct stat st {};
    if (lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 &&
        isSameFile(st, claimed)) {
        unlink(path);
    }
}

ClaimLock claimLockOf(const char *baseDirectory)
{
    struct statfs fs {};
    if (statfs(baseDirectory, &fs) != 0) {
        // No claim can be made there either.
        return ClaimLock::file;
    }
    const auto type = static_cast<std::uint32_t>(fs.f_type);
    if (type != nfsMagic && type != smbMagic && type != smb2Magic) {
        return ClaimLock::file;
    }
    // Where locks stay here, another board would see the mark but not the
    // lock, and take over a claim whose camera is still writing.
    struct stat st {};
    return stat(baseDirectory, &st) == 0 && !locksStayHere(st.st_dev) ? ClaimLock::range
                                                                      : ClaimLock::none;
}

int claimPicture(const char *path, ClaimLock lock, struct stat &claimed)
{
    // Mode 0666, so that the umask applies as it would to the camera's own.
    // Read-only, because the camera writes the picture by its name: watchers
    // of the directory see no empty file closed after writing, and SMB
    // clients send the locks of a file that they may cache for writing to
    // the server only when another client opens it. No close-on-exec: the
    // shell and the camera inherit the descriptor, so that the lock lasts
    // until the last process of the run has ended.
    const int fd = open(path, O_RDONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        return -1;
    }
    if (fstat(fd, &claimed) != 0) {
        // Without its identity the file is never removed: see releasePicture.
        claimed = {};
    }
    if (lock == ClaimLock::none) {
        return fd;
    }
    // A read lock on a share, which a read-only descriptor can hold, and
    // which keeps out only the write lock of a take-over.
    if (lockClaim(fd, lock, F_RDLCK)) {
        // Only a locked claim is marked, since the mark lets other runs take
        // the file over once nobody holds its lock. Where the mark cannot be
        // set, the file is never taken over: a killed run leaves it behind.
        // Both times are set, because FUSE file systems such as ntfs-3g and
        // exfat-fuse change neither when one of them is left out.
        const timespec times[2] = {{0, UTIME_NOW}, {claimMark, 0}};
        futimens(fd, times);
    } else if (errno == EWOULDBLOCK || errno == EACCES) {
        // Another run's take-over check holds the new file for a moment. It
        // lets go on finding no mark, and would leave the file to count as a
        // picture for good, so the run that made it removes it. SMB and some
        // NFS servers say EACCES for a lock held elsewhere.
        releasePicture(path, claimed);
        close(fd);
        errno = EEXIST;
        return -1;
    }
    // Any other failure leaves the claim unlocked and so unmarked.
    return fd;
}

int reclaimTop(const char *baseDirectory, ClaimLock lock, CaptureResult &result,
               char (&command)[textCapacity], struct stat &claimed)
{
    // A picture path that fits, with its command, fits at every lower number.
    if (result.number < 1 || !formatPicturePath(result.path, baseDirectory, result.number) ||
        !formatCameraCommand(command, result.camera, result.path)) {
        return -1;
    }
    int fd = lockAbandonedClaim(result.path, lock, claimed);
    if (fd < 0) {
        return -1;
    }
    char below[textCapacity];
    struct stat belowClaimed {};
    while (result.number > 1 && formatPicturePath(below, baseDirectory, result.number - 1)) {
        const int belowFd = lockAbandonedClaim(below, lock, belowClaimed);
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
