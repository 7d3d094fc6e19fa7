#include "capture.hpp"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>

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

// Returns whether path names a regular file that holds something.
bool isPicture(const char *path)
{
    struct stat st {};
    return lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
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
    } else if (WEXITSTATUS(status) > 128) {
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
        if (entry->d_type == DT_REG && readPictureNumber(entry->d_name, number) &&
            number > highest) {
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
    const int highest = findHighestPictureNumber(baseDirectory);
    result.number = highest;
    if (highest == INT_MAX) {
        result.status = CaptureStatus::seriesFull;
        return result;
    }
    result.number = highest + 1;
    if (!formatPicturePath(result.path, baseDirectory, result.number)) {
        result.status = CaptureStatus::pathTooLong;
        return result;
    }
    char command[textCapacity];
    if (!formatCameraCommand(command, result.path)) {
        result.status = CaptureStatus::commandTooLong;
        return result;
    }
    judgeCamera(std::system(command), result);
    return result;
}
