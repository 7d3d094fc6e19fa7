// Captures under a C library that the test steers. Scans that miss pictures:
// the listing is made to report every entry's type as unknown, or to end
// before it has shown any entry, as some file systems do; no picture may be
// overwritten then. A listing that comes one entry a read, as a share may
// hand it over, is read to its end; one whose read fails, as on a dying card,
// fails the capture before anything is made. Flushes and reads that fail: a
// picture counts as taken only once it and its directory are on the disk,
// and one that cannot be read back is said to be so. Locks that race with
// other runs: no empty file may be left to count as a picture.
#include "capture.hpp"
#include "capture_internal.hpp"

#include "support/process.hpp"
#include "test_paths.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum class Listing { asItIs, typesUnknown, endsAtOnce, oneEntryARead, failsAtOnce, failsLater };

Listing listing = Listing::asItIs;

int readFailure = 0; // what pread fails with, where set

std::vector<fs::path> synced; // what fsync was asked to flush, in order
std::size_t failingSync = SIZE_MAX;
int syncFailure = 0;

enum class Lock { asItIs, heldElsewhere, nameMadeAnew };

Lock nextLock = Lock::asItIs;

// Makes an empty file at path marked as a claim, as a run would; returns
// whether it could.
bool makeClaim(const fs::path &path)
{
    const timespec mark[2] = {{0, UTIME_NOW}, {claimMark, 0}};
    return std::ofstream{path} && utimensat(AT_FDCWD, path.c_str(), mark, 0) == 0;
}

// The path that the open file fd was opened by, or an empty one.
fs::path pathOf(int fd)
{
    char link[32];
    char target[PATH_MAX] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    return readlink(link, target, sizeof target - 1) < 0 ? fs::path() : fs::path(target);
}

} // namespace

// Stands in for the C library's getdents64 within this test program, so that
// the scan sees the listing that the test chooses.
extern "C" ssize_t getdents64(int fd, void *buffer, size_t length) noexcept
{
    using Getdents64 = ssize_t (*)(int, void *, size_t);
    static const auto next = reinterpret_cast<Getdents64>(dlsym(RTLD_NEXT, "getdents64"));
    if (listing == Listing::endsAtOnce) {
        return 0;
    }
    if (listing == Listing::failsAtOnce ||
        (listing == Listing::failsLater && lseek(fd, 0, SEEK_CUR) != 0)) {
        errno = EIO;
        return -1;
    }
    // 40 bytes hold one entry of a name up to 20 bytes, and never two.
    const ssize_t read = next(fd, buffer, listing == Listing::oneEntryARead ? 40 : length);
    for (ssize_t at = 0; listing == Listing::typesUnknown && at < read;) {
        auto *entry = reinterpret_cast<dirent64 *>(static_cast<char *>(buffer) + at);
        entry->d_type = DT_UNKNOWN;
        at += entry->d_reclen;
    }
    return read;
}

// Stands in for the C library's fsync likewise, to see what it flushes and to
// fail where the test chooses.
extern "C" int fsync(int fd)
{
    using Fsync = int (*)(int);
    static const auto next = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
    const fs::path target = pathOf(fd);
    if (target.empty()) {
        return -1;
    }
    synced.push_back(target);
    if (synced.size() - 1 == failingSync) {
        errno = syncFailure;
        return -1;
    }
    return next(fd);
}

// Stands in for the C library's pread likewise, to fail where the test
// chooses.
extern "C" ssize_t pread(int fd, void *buffer, size_t length, off_t offset)
{
    using Pread = ssize_t (*)(int, void *, size_t, off_t);
    static const auto next = reinterpret_cast<Pread>(dlsym(RTLD_NEXT, "pread"));
    if (readFailure != 0) {
        errno = readFailure;
        return -1;
    }
    return next(fd, buffer, length, offset);
}

// Stands in for the C library's flock likewise: the next call, once, finds
// the file locked by another process, or finds its name made anew by another
// run just before it locks.
extern "C" int flock(int fd, int operation)
{
    using Flock = int (*)(int, int);
    static const auto next = reinterpret_cast<Flock>(dlsym(RTLD_NEXT, "flock"));
    const Lock lock = std::exchange(nextLock, Lock::asItIs);
    if (lock == Lock::heldElsewhere) {
        errno = EWOULDBLOCK;
        return -1;
    }
    if (lock == Lock::nameMadeAnew) {
        const fs::path path = pathOf(fd);
        fs::remove(path);
        makeClaim(path);
    }
    return next(fd, operation);
}

namespace {

struct BlindCase {
    const char *what;
    Listing listing;
    std::vector<std::string> entries;
    int highest;         // what the scan finds, -1 where it fails
    std::string picture; // what the capture takes, none where it fails
};

class Interposed : public ::testing::Test {
  protected:
    void SetUp() override
    {
        const char *inherited = std::getenv("PATH");
        savedPath = inherited != nullptr ? inherited : "/bin";
        // The stand-in alone, so that no camera program of the machine's own is found.
        setenv("PATH", cameraDirectory, 1);
    }
    void TearDown() override
    {
        listing = Listing::asItIs;
        failingSync = SIZE_MAX;
        nextLock = Lock::asItIs;
        readFailure = 0;
        setenv("PATH", savedPath.c_str(), 1);
    }
    std::string savedPath;
};

TEST_F(Interposed, BlindScansOverwriteNoPicture)
{
    const BlindCase cases[] = {
        {"types unknown",
         Listing::typesUnknown,
         {"f Pic_1.jpg", "f Pic_2.jpg", "f Pic_3.jpg", "f target", "d Pic_30.jpg", "l Pic_40.jpg"},
         3,
         "Pic_4.jpg"},
        {"one entry a read",
         Listing::oneEntryARead,
         {"f Pic_1.jpg", "f Pic_3.jpg", "f Pic_2.jpg", "f target", "d Pic_30.jpg"},
         3,
         "Pic_4.jpg"},
        {"listing ends at once",
         Listing::endsAtOnce,
         {"f Pic_1.jpg", "f Pic_2.jpg", "f Pic_3.jpg"},
         0,
         "Pic_4.jpg"},
        {"listing ends at once, with a gap",
         Listing::endsAtOnce,
         {"f Pic_1.jpg", "f Pic_2.jpg", "f Pic_4.jpg"},
         0,
         "Pic_3.jpg"},
        {"listing ends at once, links and directories",
         Listing::endsAtOnce,
         {"f target", "d Pic_1.jpg", "l Pic_2.jpg"},
         0,
         "Pic_3.jpg"},
        {"listing fails at once", Listing::failsAtOnce, {"f Pic_1.jpg", "f Pic_3.jpg"}, -1, ""},
        {"listing fails later", Listing::failsLater, {"f Pic_1.jpg", "f Pic_3.jpg"}, -1, ""},
    };
    for (const BlindCase &c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        for (const std::string &entry : c.entries) {
            makeEntry(dir.path(), entry);
        }
        listing = c.listing;
        EXPECT_EQ(findHighestPictureNumber(dir.path().c_str()), c.highest);

        const CaptureResult result = captureImage(dir.path().c_str());
        listing = Listing::asItIs;
        if (c.picture.empty()) {
            // Nothing made, the camera not run: the entries are as they were.
            EXPECT_EQ(result.status, CaptureStatus::cannotList);
            EXPECT_EQ(result.detail, EIO);
            EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}),
                      std::ptrdiff_t(c.entries.size()));
            continue;
        }
        EXPECT_EQ(result.status, CaptureStatus::taken);
        EXPECT_EQ(fs::path(result.path), dir.path() / c.picture);
        EXPECT_GT(fs::file_size(dir.path() / c.picture), 0U);
        for (const std::string &entry : c.entries) {
            if (entry[0] == 'f') {
                // makeEntry wrote the entry's own text into it.
                EXPECT_EQ(readFile(dir.path() / entry.substr(2)), entry);
            }
        }
    }
}

struct SyncCase {
    const char *what;
    std::size_t failingSync;
    int failure;
    CaptureStatus status;
    int detail;
};

TEST_F(Interposed, FlushesThePictureAndItsDirectoryBeforeSuccess)
{
    const SyncCase cases[] = {
        {"both flushed", SIZE_MAX, 0, CaptureStatus::taken, 0},
        {"the picture fails", 0, EIO, CaptureStatus::cannotSync, EIO},
        {"the directory fails", 1, EIO, CaptureStatus::cannotSync, EIO},
        {"the directory cannot be flushed alone", 1, EINVAL, CaptureStatus::taken, 0},
    };
    for (const SyncCase &c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        const fs::path picture = fs::canonical(dir.path()) / "Pic_1.jpg";
        synced.clear();
        failingSync = c.failingSync;
        syncFailure = c.failure;
        const CaptureResult result = captureImage(dir.path().c_str());
        failingSync = SIZE_MAX;
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.detail, c.detail);
        // The picture stays, flushed or not.
        EXPECT_GT(fs::file_size(picture), 0U);
        std::vector<fs::path> expected = {picture, picture.parent_path()};
        if (c.failingSync < expected.size()) {
            expected.resize(c.failingSync + 1);
        }
        EXPECT_EQ(synced, expected);
    }
}

TEST_F(Interposed, SaysThatAPictureCannotBeReadBack)
{
    const TempDir dir;
    readFailure = EIO;
    const CaptureResult result = captureImage(dir.path().c_str());
    readFailure = 0;
    EXPECT_EQ(result.status, CaptureStatus::cannotCheck);
    EXPECT_EQ(result.detail, EIO);
    EXPECT_GT(fs::file_size(dir.path() / "Pic_1.jpg"), 0U);
}

struct ClaimCase {
    const char *what;
    Lock lock;
    bool keepTimes;              // the camera's writes keep the file's times, as on fusefat
    bool claimOnTop;             // Pic_1.jpg a picture, Pic_2.jpg a claim that a killed run left
    std::string picture;         // what the capture takes
    std::set<std::string> empty; // the empty files left
};

TEST_F(Interposed, LeavesNoEmptyFileAndNoMarkedPicture)
{
    const ClaimCase cases[] = {
        {"new claim held by a check", Lock::heldElsewhere, false, false, "Pic_2.jpg", {}},
        {"claim made anew", Lock::nameMadeAnew, false, true, "Pic_3.jpg", {"Pic_2.jpg"}},
        {"camera keeps the mark", Lock::asItIs, true, false, "Pic_1.jpg", {}},
    };
    for (const ClaimCase &c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        if (c.claimOnTop) {
            makeEntry(dir.path(), "f Pic_1.jpg");
            ASSERT_TRUE(makeClaim(dir.path() / "Pic_2.jpg"));
        }
        nextLock = c.lock;
        if (c.keepTimes) {
            setenv("CAMERA_STANDIN_KEEP_TIMES", "1", 1);
        }
        const CaptureResult result = captureImage(dir.path().c_str());
        unsetenv("CAMERA_STANDIN_KEEP_TIMES");
        EXPECT_EQ(result.status, CaptureStatus::taken);
        EXPECT_EQ(fs::path(result.path), dir.path() / c.picture);
        struct stat st {};
        EXPECT_TRUE(stat(result.path, &st) == 0 && st.st_mtim.tv_sec > claimMark);
        std::set<std::string> empty;
        for (const auto &entry : fs::directory_iterator(dir.path())) {
            if (fs::file_size(entry.path()) == 0) {
                empty.insert(entry.path().filename().string());
            }
        }
        EXPECT_EQ(empty, c.empty);
    }
}

} // namespace
