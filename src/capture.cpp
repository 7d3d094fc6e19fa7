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
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

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

// Returns whether path names a regular file that holds something.
bool isPicture(const char *path)
{
    struct stat st {};
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

// Creates the picture file at path if no file of that name exists, so that
// no other run and no camera can take the name; returns 0, or errno.
int claimPicture(const char *path, struct stat &claimed)
{
    // Mode 0666, so that the umask applies as it would to the camera's own.
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    if (fstat(fd, &claimed) != 0) {
        // Without its identity the file is never removed: see releasePicture.
        claimed = {};
    }
    close(fd);
    return 0;
}

// Removes the file claimed for a capture that failed, as long as it is still
// the empty file this run created.
void releasePicture(const char *path, const struct stat &claimed)
{
    struct stat st {};
    if (lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 && st.st_ino != 0 &&
        st.st_dev == claimed.st_dev && st.st_ino == claimed.st_ino) {
        unlink(path);
    }
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
    } else if (!isPicture(result.path)) {
        result.status = CaptureStatus::noPicture;
    } else {
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
    return length >= 0 && static_cast<std::size_t>(length) < sizeof path;
}

bool formatCameraCommand(char (&command)[textCapacity], const char *picturePath)
{
    static constexpr char front[] = "libcamera-still --width 1024 --height 768 -o \"";
    std::size_t length = sizeof front - 1;
    std::memcpy(command, front, length);
    for (const char *p = picturePath; *p != '\0'; ++p) {
        const std::size_t width = isShellSpecial(*p) ? 2 : 1;
        // Keep room for the closing quote and the terminating zero.
        if (length + width + 2 > sizeof command) {
            command[length] = '\0';
            return false;
        }
        if (width == 2) {
            command[length++] = '\\';
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
    char command[textCapacity];
    struct stat claimed {};
    // The scan can miss pictures, and other runs can claim numbers meanwhile:
    // a name that turns out to be taken moves the capture on to the next.
    result.number = findHighestPictureNumber(baseDirectory);
    for (;;) {
        if (result.number == INT_MAX) {
            result.status = CaptureStatus::seriesFull;
            return result;
        }
        ++result.number;
        if (!formatPicturePath(result.path, baseDirectory, result.number)) {
            result.status = CaptureStatus::pathTooLong;
            return result;
        }
        if (!formatCameraCommand(command, result.path)) {
            result.status = CaptureStatus::commandTooLong;
            return result;
        }
        const int error = claimPicture(result.path, claimed);
        if (error == 0) {
            break;
        }
        if (error != EEXIST) {
            result.status = CaptureStatus::cannotCreate;
            result.detail = error;
            return result;
        }
    }
    // The camera is run through the shell by design, with the path escaped.
    judgeCamera(std::system(command), result); // NOLINT(cert-env33-c)
    if (result.status != CaptureStatus::taken) {
        releasePicture(result.path, claimed);
    }
    return result;
}
