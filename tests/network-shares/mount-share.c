/* mount-share SOURCE TARGET TYPE DATA: mount(2) with the kernel's own text
 * options, for cifs and nfs alike. busybox mount parses NFS options with code
 * of its own, so the guest mounts through this instead. Built static by the
 * rig. */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: mount-share SOURCE TARGET TYPE DATA\n");
        return 2;
    }
    if (mount(argv[1], argv[2], argv[3], 0, argv[4]) != 0) {
        fprintf(stderr, "mount-share: %s on %s (%s): %s\n", argv[1], argv[2], argv[3],
                strerror(errno));
        return 1;
    }
    return 0;
}
