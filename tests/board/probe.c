/*
 * The board's device probe, run by the service in place of picseries (a test
 * drop-in replaces ExecStart= only), so under the unit's sandbox: it opens
 * every /dev/video* and /dev/media* read-write, as the camera stack does,
 * and asks each what it is; then it opens the device named as its argument,
 * which the unit does not allow.
 *
 *   probe FORBIDDEN
 *
 * One line a device on standard output. Exits 0 when at least one video and
 * one media device answered, every one did, and FORBIDDEN was refused with
 * EPERM, as the device cgroup refuses; 1 otherwise.
 */
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <linux/media.h>
#include <linux/videodev2.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

/* Opens and queries every node that pattern matches; returns how many
 * answered, or -1 when one did not. */
static int query_all(const char *pattern, int media)
{
    glob_t nodes;
    int answered = 0;
    if (glob(pattern, 0, NULL, &nodes) != 0)
        return 0;
    for (size_t i = 0; i < nodes.gl_pathc; i++) {
        const char *node = nodes.gl_pathv[i];
        struct v4l2_capability video;
        struct media_device_info info;
        const char *driver = NULL;
        int fd = open(node, O_RDWR | O_CLOEXEC);
        if (fd >= 0 && !media && ioctl(fd, VIDIOC_QUERYCAP, &video) == 0)
            driver = (const char *)video.driver;
        else if (fd >= 0 && media && ioctl(fd, MEDIA_IOC_DEVICE_INFO, &info) == 0)
            driver = info.driver;
        if (driver != NULL) {
            printf("probe: %s: %s\n", node, driver);
            answered++;
        } else {
            printf("probe: %s: failed: %s\n", node, strerror(errno));
            answered = -1;
        }
        if (fd >= 0)
            close(fd);
        if (answered < 0)
            break;
    }
    globfree(&nodes);
    return answered;
}

int main(int argc, char **argv)
{
    int video, media, fd, refused;
    if (argc != 2) {
        fprintf(stderr, "usage: probe FORBIDDEN\n");
        return 1;
    }
    video = query_all("/dev/video*", 0);
    media = query_all("/dev/media*", 1);
    printf("probe: %d video and %d media devices answered\n", video, media);
    fd = open(argv[1], O_RDWR | O_CLOEXEC);
    refused = fd < 0 && errno == EPERM;
    printf("probe: %s: %s\n", argv[1], fd >= 0 ? "opened" : strerror(errno));
    return video > 0 && media > 0 && refused ? 0 : 1;
}
