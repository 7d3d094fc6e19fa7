// The cheapest way to list a directory on Linux: getdents64 into one buffer,
// with nothing done to what it returns. Both floors of the benchmarks use it.
#pragma once

#include <cstddef>
#include <sys/syscall.h>
#include <unistd.h>

// 32 KiB, the buffer glibc's opendir gives readdir wherever the directory's
// st_blksize is smaller (ext4 reports 4 KiB), so that the floor makes as many
// getdents64 calls as readdir does.
inline constexpr std::size_t directoryBufferSize = 32 * 1024;

// Reads the open directory fd to its end; returns the bytes of entries the
// kernel handed over, or -1 when getdents64 failed.
inline long readWholeDirectory(int fd)
{
    alignas(8) static char buffer[directoryBufferSize];
    long total = 0;
    for (;;) {
        const long read = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (read <= 0) {
            return read < 0 ? -1 : total;
        }
        total += read;
    }
}
