// picseries: takes the next picture of a numbered series into a directory.
#include "capture.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sysexits.h>

namespace {

// Prints what went wrong with a capture on standard error and returns the
// exit status that tells the caller.
int reportCapture(const CaptureResult &result, const char *baseDirectory)
{
    switch (result.status) {
    case CaptureStatus::taken:
        return 0;
    case CaptureStatus::noCamera:
        std::fprintf(stderr, "picseries: no camera program: neither %s nor %s is on the PATH\n",
                     cameraPrograms[0], cameraPrograms[1]);
        return EX_UNAVAILABLE;
    case CaptureStatus::cannotList:
        std::fprintf(stderr, "picseries: cannot read %s: %s\n", baseDirectory,
                     std::strerror(result.detail));
        return EX_IOERR;
    case CaptureStatus::pathTooLong:
        // The path buffer may hold only the front of the name, so print it whole.
        std::fprintf(stderr, "picseries: cannot create %s/Pic_%d.jpg: %s\n", baseDirectory,
                     result.number, std::strerror(ENAMETOOLONG));
        return EX_CANTCREAT;
    case CaptureStatus::commandTooLong:
        std::fprintf(stderr, "picseries: cannot create %s: %s for the camera command\n",
                     result.path, std::strerror(ENAMETOOLONG));
        return EX_CANTCREAT;
    case CaptureStatus::seriesFull:
        std::fprintf(stderr, "picseries: cannot add to %s: series is full at Pic_%d.jpg\n",
                     baseDirectory, result.number);
        return EX_CANTCREAT;
    case CaptureStatus::cannotCreate:
        std::fprintf(stderr, "picseries: cannot create %s: %s\n", result.path,
                     std::strerror(result.detail));
        return EX_CANTCREAT;
    case CaptureStatus::cannotRun:
        std::fprintf(stderr, "picseries: cannot run %s: %s\n", result.camera,
                     std::strerror(result.detail));
        return EX_UNAVAILABLE;
    case CaptureStatus::cameraNotFound:
        std::fprintf(stderr, "picseries: %s: not found\n", result.camera);
        return EX_UNAVAILABLE;
    case CaptureStatus::cameraFailed:
        std::fprintf(stderr, "picseries: %s: exited with status %d\n", result.camera,
                     result.detail);
        return EX_UNAVAILABLE;
    case CaptureStatus::cameraKilled:
        std::fprintf(stderr, "picseries: %s: killed by signal %d (%s)\n", result.camera,
                     result.detail, strsignal(result.detail));
        return EX_UNAVAILABLE;
    case CaptureStatus::noPicture:
        std::fprintf(stderr, "picseries: %s: wrote no picture to %s\n", result.camera, result.path);
        return EX_UNAVAILABLE;
    case CaptureStatus::cutOff:
        std::fprintf(stderr, "picseries: %s: wrote a cut-off picture to %s\n", result.camera,
                     result.path);
        return EX_UNAVAILABLE;
    case CaptureStatus::cannotCheck:
        std::fprintf(stderr, "picseries: cannot read %s: %s\n", result.path,
                     std::strerror(result.detail));
        return EX_IOERR;
    case CaptureStatus::moved:
        std::fprintf(stderr, "picseries: %s: directory moved or replaced during the run\n",
                     baseDirectory);
        return EX_CANTCREAT;
    case CaptureStatus::cannotSync:
        std::fprintf(stderr, "picseries: cannot sync %s: %s\n", result.path,
                     std::strerror(result.detail));
        return EX_IOERR;
    case CaptureStatus::stopped:
        // What a shell would say, where the signal did not end the process.
        return 128 + result.detail;
    }
    return EX_SOFTWARE;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc <= 2) {
        // A caller may start the program with no argv[0] at all.
        std::printf("Usage: %s <base_directory> <command>\n",
                    argc > 0 && argv[0] != nullptr ? argv[0] : "picseries");
        return 1;
    }
    const char *baseDirectory = argv[1];
    if (std::strcmp(argv[2], "image") != 0) {
        std::puts("Unknown command. Use 'image'.");
        return 1;
    }
    const CaptureResult result = captureImage(baseDirectory);
    if (result.status == CaptureStatus::stopped) {
        // Ended by the signal itself, so that a shell sees 128 + n and a loop
        // of it ends on Ctrl-C, timeout(1) says 124 and systemd a timeout.
        std::signal(result.detail, SIG_DFL);
        std::raise(result.detail);
    }
    return reportCapture(result, baseDirectory);
}
