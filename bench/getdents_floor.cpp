// getdents_floor: opens a directory and reads it to its end, and does nothing
// else. A whole run of picseries over the same directory is measured against
// this process.
#include "read_directory.hpp"

#include <fcntl.h>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        return 2;
    }
    const int fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return 1;
    }
    return readWholeDirectory(fd) < 0 ? 1 : 0;
}
