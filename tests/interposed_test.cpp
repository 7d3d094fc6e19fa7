// Captures under a C library that the test steers. Scans that miss pictures:
// the listing is made to report every entry's type as unknown, or to end
// before it has shown any entry, as some file systems and read errors do; no
// picture may be overwritten then. Flushes that fail: a picture counts as
// taken only once it and its directory are on the disk.
#include "capture.hpp"

#include "support/process.hpp"
#include "test_paths.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum class Listing { asItIs, typesUnknown, endsAtOnce };

Listing listing = Listing::asItIs;

std::vector<fs::path> synced; // what fsync was asked to flush, in order
std::size_t failingSync = SIZE_MAX;
int syncFailure = 0;

} // namespace

// Stands in for the C library's readdir within this test program, so that
// the scan sees the listing that the test chooses.
extern "C" dirent *readdir(DIR *dir)
{
    using Readdir = dirent *(*)(DIR *);
    static const auto next = reinterpret_cast<Readdir>(dlsym(RTLD_NEXT, "readdir"));
    if (listing == Listing::endsAtOnce) {
        return nullptr;
    }
    dirent *entry = next(dir);
    if (entry != nullptr && listing == Listing::typesUnknown) {
        entry->d_type = DT_UNKNOWN;
    }
    return entry;
}

// Stands in for the C library's fsync likewise, to see what it flushes and to
// fail where the test chooses.
extern "C" int fsync(int fd)
{
    using Fsync = int (*)(int);
    static const auto next = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
    char link[32];
    char target[PATH_MAX] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (readlink(link, target, sizeof target - 1) < 0) {
        return -1;
    }
    synced.emplace_back(target);
    if (synced.size() - 1 == failingSync) {
        errno = syncFailure;
        return -1;
    }
    return next(fd);
}

namespace {

struct BlindCase {
    const char *what;
    Listing listing;
    std::vector<std::string> entries;
    int highest;         // what the scan finds
    std::string picture; // what the capture takes
};

class Interposed : public ::testing::Test {
  protected:
    void SetUp() override
    {
        const char *inherited = std::getenv("PATH");
        savedPath = inherited != nullptr ? inherited : "/bin";
        setenv("PATH", (std::string(cameraDirectory) + ":" + savedPath).c_str(), 1);
    }
    void TearDown() override
    {
        listing = Listing::asItIs;
        failingSync = SIZE_MAX;
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

} // namespace
