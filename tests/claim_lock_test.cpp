#include "capture_internal.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

struct FileSystem {
    const char *name;
    std::uint32_t type;
    dev_t device;
    ClaimLock lock;
};

TEST(ClaimLockFor, TrustsOnlyLocksThatStayOnThisMachine)
{
    const FileSystem cases[] = {
        {"ext4 on the SD card", 0xEF53, makedev(179, 2), ClaimLock::file},
        {"tmpfs", 0x01021994, makedev(0, 30), ClaimLock::file},
        {"vfat on a USB drive", 0x4D44, makedev(8, 1), ClaimLock::file},
        {"exfat-fuse on a USB drive", 0x65735546, makedev(8, 1), ClaimLock::file},
        {"sshfs", 0x65735546, makedev(0, 52), ClaimLock::none},
        {"NFS", 0x6969, makedev(0, 48), ClaimLock::none},
        {"SMB 3", 0xFE534D42, makedev(0, 49), ClaimLock::none},
        {"cifs", 0xFF534D42, makedev(0, 49), ClaimLock::none},
    };
    for (const FileSystem &c : cases) {
        EXPECT_EQ(claimLockFor(c.type, c.device), c.lock) << c.name;
    }
}

TEST(ClaimLockOf, LocksOnThisMachinesDirectories)
{
    const int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_EQ(claimLockOf(here), ClaimLock::file);
    close(here);
    EXPECT_EQ(claimLockOf(-1), ClaimLock::file);
}

// Where locks cannot be trusted, the claim is a plain empty file that no run
// holds open and nothing marks, so another run never takes it over.
TEST(ClaimPicture, LeavesAnUnlockedUnmarkedFileWhereLocksCannotBeTrusted)
{
    char dir[] = "/tmp/claim_lock_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/Pic_1.jpg";
    const int series = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = 0;
    struct stat claimed {};
    ASSERT_TRUE(claimPicture(series, "Pic_1.jpg", ClaimLock::none, fd, claimed));
    EXPECT_EQ(fd, -1);
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_size == 0 && st.st_mtim.tv_sec != claimMark);
    EXPECT_EQ(st.st_ino, claimed.st_ino);
    // Nobody holds it: a whole-file lock of another open is granted.
    const int other = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
    errno = 0;
    EXPECT_FALSE(claimPicture(series, "Pic_1.jpg", ClaimLock::none, fd, claimed));
    EXPECT_EQ(errno, EEXIST);
    close(series);
    unlink(path.c_str());
    rmdir(dir);
}

} // namespace
