// How claims are locked on the file system that holds the series: with a
// lock that this machine can trust, or not at all.
#include "capture_internal.hpp"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

namespace {

// The types that statfs(2) reports for file systems whose files live on
// another machine. Their locks can be lost without a word: a server that
// restarts forgets them, and a client that drops off the network loses them
// when its lease runs out, while its camera goes on to write the picture.
constexpr std::uint32_t networkMagics[] = {
    0x6969,     // NFS
    0xFF534D42, // SMB (cifs)
    0xFE534D42, // SMB 2 and 3
    0x01021997, // 9P
    0x00C36400, // Ceph
    0x6B414653, // AFS
};

// FUSE's type, for every FUSE file system; only those on a block device of
// this machine (fuseblk: exfat-fuse, ntfs-3g) have a real device number.
constexpr std::uint32_t fuseMagic = 0x65735546;

} // namespace

ClaimLock claimLockFor(std::uint32_t type, dev_t device)
{
    for (const std::uint32_t magic : networkMagics) {
        if (type == magic) {
            return ClaimLock::none;
        }
    }
    // sshfs, rclone, davfs2 and their like get an anonymous device, major 0,
    // and the kernel's locks on them hold within this machine only.
    if (type == fuseMagic && major(device) == 0) {
        return ClaimLock::none;
    }
    return ClaimLock::file;
}

ClaimLock claimLockOf(int series)
{
    struct statfs fs {};
    if (fstatfs(series, &fs) != 0) {
        // No claim can be made there either.
        return ClaimLock::file;
    }
    const auto type = static_cast<std::uint32_t>(fs.f_type);
    // Only FUSE needs the device; where it cannot be had, device 0 counts
    // as none of this machine's.
    struct stat st {};
    if (type == fuseMagic && fstat(series, &st) != 0) {
        st.st_dev = 0;
    }
    return claimLockFor(type, st.st_dev);
}
