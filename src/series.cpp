// The series' naming scheme: which file names count as pictures, the highest
// number that a directory holds, and the path of the picture of a number.
#include "capture.hpp"
#include "capture_internal.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

// Returns whether the listing's entry is a regular file, asking the file
// system when the listing leaves the type unreported; links never count.
bool isRegularEntry(int dirFd, const dirent64 *entry)
{
    if (entry->d_type != DT_UNKNOWN) {
        return entry->d_type == DT_REG;
    }
    struct stat st {};
    return fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

// Returns the directory that holds the pictures of baseDirectory: itself, or
// the root for the empty name, whose pictures are /Pic_<n>.jpg.
const char *directoryOf(const char *baseDirectory)
{
    return *baseDirectory != '\0' ? baseDirectory : "/";
}

// Returns whether name is the one that picseries gives picture number.
bool isSeriesName(const char *name, int number)
{
    char own[sizeof "Pic_-2147483648.jpg"];
    std::snprintf(own, sizeof own, "Pic_%d.jpg", number);
    return std::strcmp(name, own) == 0;
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

int openSeries(const char *baseDirectory, bool &listable)
{
    const char *directory = directoryOf(baseDirectory);
    listable = true;
    int series = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (series < 0 && errno == EACCES) {
        listable = false;
        series = open(directory, O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    return series;
}

bool isNoDirectory(int error)
{
    return error == ENOENT || error == ENOTDIR || error == EACCES || error == ELOOP ||
           error == ENAMETOOLONG;
}

// The listing is read into a buffer of fixed size rather than through readdir,
// whose buffer follows the directory's st_blksize: 1 MiB on NFS, where the
// client answers the first read of a directory with the entries' attributes
// too, and a cold scan of a large series cost nearly twice a bare listing's
// bytes.
SeriesScan scanSeries(int series)
{
    alignas(dirent64) char buffer[listingBufferSize];
    SeriesScan scan{};
    int otherName = 0;
    ssize_t length = 0;
    while ((length = getdents64(series, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
            at += entry->d_reclen;
            int number = 0;
            // Only names near the top can matter to a take-over: the rest
            // are passed over at the cost of a comparison.
            if (!readPictureNumber(entry->d_name, number) || number <= 0 ||
                number <= scan.highest - takeOverReach || !isRegularEntry(series, entry)) {
                continue;
            }
            scan.highest = std::max(scan.highest, number);
            if (number > otherName && !isSeriesName(entry->d_name, number)) {
                otherName = number;
            }
        }
    }
    // A listing cut short would send the picture into a gap of the series.
    scan.error = length < 0 ? errno : 0;
    scan.takeOverFloor = std::max(otherName, scan.highest - takeOverReach);
    return scan;
}

bool namesSeries(const char *baseDirectory, int series)
{
    struct stat named {};
    struct stat opened {};
    if (stat(directoryOf(baseDirectory), &named) != 0) {
        // A share gone away says EIO or the like, not that the path leads
        // elsewhere: the checks that follow say what it is.
        return !isNoDirectory(errno);
    }
    return fstat(series, &opened) != 0 || isSameFile(named, opened);
}

const char *pictureName(const char *path)
{
    return std::strrchr(path, '/') + 1;
}

int findHighestPictureNumber(const char *baseDirectory)
{
    bool listable = false;
    const int series = openSeries(baseDirectory, listable);
    if (series < 0) {
        return isNoDirectory(errno) ? 0 : -1;
    }
    const SeriesScan scan = listable ? scanSeries(series) : SeriesScan{};
    close(series);
    errno = scan.error;
    return scan.error == 0 ? scan.highest : -1;
}

bool formatPicturePath(char (&path)[textCapacity], const char *baseDirectory, int number)
{
    const int length = std::snprintf(path, sizeof path, "%s/Pic_%d.jpg", baseDirectory, number);
    return length >= 0 && static_cast<std::size_t>(length) <= pictureNameLimit;
}
