// The directories the benchmarks scan: made once under a directory of the
// caller's choice and reused by later runs.
#pragma once

#include <string>

// What a benchmark directory holds. Of its regular files, one in a hundred is
// named so that it must not count (no digits, a number beyond 32 bits, another
// prefix); the rest are Pic_1.jpg to Pic_<pictures>.jpg. One subdirectory per
// hundred files carries a picture-like name with a higher number, which counts
// only if the scan lets a directory through.
struct DirectoryLayout {
    long files = 0;
    long pictures = 0;
    long others = 0;
    long subdirectories = 0;
};

// The layout of a directory with the given number of regular files.
DirectoryLayout layoutFor(long files);

// Makes sure that "<benchDir>/pictures-<files>" holds exactly the layout for
// files, creating what is missing, and returns its path; a marker beside it
// spares later runs the creation but not the check. Returns an empty string,
// after saying why on standard error, when that fails.
std::string prepareDirectory(const std::string &benchDir, long files);

// Names the file system that holds path, with a warning when it is tmpfs,
// whose listings cost nothing like a disk's.
std::string describeFileSystem(const std::string &path);
