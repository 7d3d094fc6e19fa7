// The cheapest way to list a directory on Linux: getdents64 into one buffer,
// with nothing done to what it returns. Both floors of the benchmarks use it.
#pragma once

#include "capture_internal.hpp"

#include <dirent.h>

// Reads the open directory fd to its end, as many bytes a call as the scan
// reads, so that the floor makes as many getdents64 calls as the scan does;
// returns the bytes of entries the kernel handed over, or -1 when getdents64
// failed.
inline long readWholeDirectory(int fd)
{
    alignas(8) static char buffer[listingBufferSize];
    long total = 0;
    for (;;) {
        const long read = getdents64(fd, buffer, sizeof buffer);
        if (read <= 0) {
            return read < 0 ? -1 : total;
        }
        total += read;
    }
}
