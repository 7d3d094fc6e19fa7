// The series' naming scheme: which file names count as pictures, the highest
// number that a directory holds, and the path of the picture of a number.
#include "capture.hpp"
#include "capture_internal.hpp"

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

// The listing is read into a buffer of fixed size rather than through readdir,
// whose buffer follows the directory's st_blksize: 1 MiB on NFS, where the
// client answers the first read of a directory with the entries' attributes
// too, and a cold scan of a large series cost nearly twice a bare listing's
// bytes.
int findHighestPictureNumber(const char *baseDirectory)
{
    const int dirFd = open(baseDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return 0;
    }
    alignas(dirent64) char buffer[listingBufferSize];
    int highest = 0;
    ssize_t length = 0;
    // A read that fails ends the scan as the listing's end does: the claim
    // moves past any name that turns out to be taken.
    while ((length = getdents64(dirFd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
            at += entry->d_reclen;
            int number = 0;
            if (readPictureNumber(entry->d_name, number) && number > highest &&
                isRegularEntry(dirFd, entry)) {
                highest = number;
            }
        }
    }
    close(dirFd);
    return highest;
}

bool formatPicturePath(char (&path)[textCapacity], const char *baseDirectory, int number)
{
    const int length = std::snprintf(path, sizeof path, "%s/Pic_%d.jpg", baseDirectory, number);
    return length >= 0 && static_cast<std::size_t>(length) <= pictureNameLimit;
}
