#include "bench_directory.hpp"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// Bumped whenever the layout changes, so that directories made by an older
// benchmark are checked afresh instead of trusted.
constexpr char layoutVersion[] = "layout 1\n";

// Says on standard error what failed and why; returns false for the caller to pass on.
bool fail(const std::string &what, int error)
{
    std::fprintf(stderr, "picseries_bench: %s: %s\n", what.c_str(), std::strerror(error));
    return false;
}

// Creates path and its missing parents; returns whether path is a directory
// afterwards.
bool makeDirectories(const std::string &path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        // A parent that already exists, or that we may not create but may
        // enter, is fine; the final mkdir tells the real story.
        mkdir(path.substr(0, slash).c_str(), 0755);
    }
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        return fail("cannot create " + path, errno);
    }
    return true;
}

// Names the i-th regular file that must not count as a picture.
void formatOther(char (&name)[64], long i)
{
    switch (i % 3) {
    case 0:
        std::snprintf(name, sizeof name, "notes_%ld.txt", i);
        break;
    case 1:
        std::snprintf(name, sizeof name, "Pic_x%ld.jpg", i);
        break;
    default:
        std::snprintf(name, sizeof name, "Pic_%ld.jpg", 4294967296L + i);
        break;
    }
}

// Creates whatever of the layout is missing in the open directory dirFd;
// returns whether every entry is there.
bool fillDirectory(int dirFd, const std::string &path, const DirectoryLayout &layout)
{
    char name[64];
    for (long i = 0; i < layout.files; ++i) {
        if (i < layout.pictures) {
            std::snprintf(name, sizeof name, "Pic_%ld.jpg", i + 1);
        } else {
            formatOther(name, i - layout.pictures);
        }
        // No O_EXCL: a run that was cut short left some files, and they are
        // as good as new ones.
        const int fd = openat(dirFd, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            return fail("cannot create " + path + "/" + name, errno);
        }
        close(fd);
    }
    for (long i = 0; i < layout.subdirectories; ++i) {
        // No ".jpg", so that no directory takes the name of the picture a
        // run of picseries goes for.
        std::snprintf(name, sizeof name, "Pic_%ld", layout.pictures + 1 + i);
        if (mkdirat(dirFd, name, 0755) != 0 && errno != EEXIST) {
            return fail("cannot create " + path + "/" + name, errno);
        }
    }
    return true;
}

struct EntryCounts {
    long regular = 0;
    long directories = 0;
    long other = 0;
};

// Counts the entries of the directory at path by type, "." and ".." aside;
// returns false when it cannot be read. Untimed, so plain readdir does.
bool countEntries(const std::string &path, EntryCounts &counts)
{
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) {
        return false;
    }
    errno = 0;
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        if (entry->d_type == DT_REG) {
            ++counts.regular;
        } else if (entry->d_type == DT_DIR) {
            ++counts.directories;
        } else {
            ++counts.other;
        }
    }
    const int readError = errno;
    closedir(dir);
    errno = readError;
    return readError == 0;
}

// Returns whether marker says that its directory was completed with this layout.
bool hasMarker(const std::string &marker)
{
    char content[sizeof layoutVersion] = {};
    std::FILE *file = std::fopen(marker.c_str(), "r");
    if (file == nullptr) {
        return false;
    }
    const std::size_t read = std::fread(content, 1, sizeof content - 1, file);
    std::fclose(file);
    return read == sizeof layoutVersion - 1 && std::strcmp(content, layoutVersion) == 0;
}

// Records that the directory beside marker is complete; returns whether it worked.
bool writeMarker(const std::string &marker)
{
    std::FILE *file = std::fopen(marker.c_str(), "w");
    if (file == nullptr) {
        return fail("cannot create " + marker, errno);
    }
    const bool written = std::fputs(layoutVersion, file) >= 0;
    return std::fclose(file) == 0 && written;
}

} // namespace

DirectoryLayout layoutFor(long files)
{
    DirectoryLayout layout;
    layout.files = files;
    layout.others = files / 100;
    layout.pictures = files - layout.others;
    layout.subdirectories = files / 100;
    return layout;
}

std::string prepareDirectory(const std::string &benchDir, long files)
{
    const DirectoryLayout layout = layoutFor(files);
    const std::string path = benchDir + "/pictures-" + std::to_string(files);
    const std::string marker = path + ".complete";
    if (!makeDirectories(path)) {
        return {};
    }
    const int dirFd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        fail("cannot open " + path, errno);
        return {};
    }
    const bool complete = hasMarker(marker);
    if (!complete) {
        std::fprintf(stderr, "picseries_bench: creating %ld files in %s\n", files, path.c_str());
        if (!fillDirectory(dirFd, path, layout)) {
            close(dirFd);
            return {};
        }
    }
    close(dirFd);
    EntryCounts counts;
    if (!countEntries(path, counts)) {
        fail("cannot read " + path, errno);
        return {};
    }
    if (counts.regular != layout.files || counts.directories != layout.subdirectories ||
        counts.other != 0) {
        std::fprintf(stderr,
                     "picseries_bench: %s holds %ld files, %ld directories and %ld other "
                     "entries instead of %ld files and %ld directories; remove it and run again\n",
                     path.c_str(), counts.regular, counts.directories, counts.other, layout.files,
                     layout.subdirectories);
        return {};
    }
    if (!complete && !writeMarker(marker)) {
        return {};
    }
    return path;
}

std::string describeFileSystem(const std::string &path)
{
    struct statfs info {};
    if (statfs(path.c_str(), &info) != 0) {
        return "unknown file system";
    }
    switch (info.f_type) {
    case EXT4_SUPER_MAGIC:
        return "ext2/3/4";
    case XFS_SUPER_MAGIC:
        return "xfs";
    case BTRFS_SUPER_MAGIC:
        return "btrfs";
    case TMPFS_MAGIC:
        return "tmpfs (WARNING: memory, not a disk; pass --bench_dir on a disk)";
    case OVERLAYFS_SUPER_MAGIC:
        return "overlayfs";
    default:
        break;
    }
    char text[48];
    std::snprintf(text, sizeof text, "file system type 0x%lx",
                  static_cast<unsigned long>(info.f_type));
    return text;
}
