// A picture counts as taken only once it is on the disk: the capture flushes
// the picture, then the directory that names it. fsync is made to report what
// it is asked to flush, and to fail where the test chooses.
#include "capture.hpp"

#include "support/process.hpp"
#include "test_paths.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> synced; // what fsync was asked to flush, in order
std::size_t failingCall = SIZE_MAX;
int failure = 0;

} // namespace

// Stands in for the C library's fsync within this test program.
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
    if (synced.size() - 1 == failingCall) {
        errno = failure;
        return -1;
    }
    return next(fd);
}

namespace {

struct SyncCase {
    const char *what;
    std::size_t failingCall;
    int failure;
    CaptureStatus status;
    int detail;
};

TEST(Durability, FlushesThePictureAndItsDirectoryBeforeSuccess)
{
    const SyncCase cases[] = {
        {"both flushed", SIZE_MAX, 0, CaptureStatus::taken, 0},
        {"the picture fails", 0, EIO, CaptureStatus::cannotSync, EIO},
        {"the directory fails", 1, EIO, CaptureStatus::cannotSync, EIO},
        {"the directory cannot be flushed alone", 1, EINVAL, CaptureStatus::taken, 0},
    };
    const char *inherited = std::getenv("PATH");
    const std::string savedPath = inherited != nullptr ? inherited : "/bin";
    setenv("PATH", (std::string(cameraDirectory) + ":" + savedPath).c_str(), 1);
    for (const SyncCase &c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        const fs::path picture = fs::canonical(dir.path()) / "Pic_1.jpg";
        synced.clear();
        failingCall = c.failingCall;
        failure = c.failure;
        const CaptureResult result = captureImage(dir.path().c_str());
        failingCall = SIZE_MAX;
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.detail, c.detail);
        // The picture stays, flushed or not.
        EXPECT_GT(fs::file_size(picture), 0U);
        std::vector<fs::path> expected = {picture, picture.parent_path()};
        if (c.failingCall < expected.size()) {
            expected.resize(c.failingCall + 1);
        }
        EXPECT_EQ(synced, expected);
    }
    setenv("PATH", savedPath.c_str(), 1);
}

} // namespace
