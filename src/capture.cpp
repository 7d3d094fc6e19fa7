// One run's capture, from finding the camera to the picture on the disk, told
// with the series, the camera program and the claim.
#include "capture.hpp"
#include "capture_internal.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

CaptureResult captureImage(const char *baseDirectory)
{
    CaptureResult result{};
    result.camera = findCameraProgram(std::getenv("PATH"));
    if (result.camera == nullptr) {
        result.status = CaptureStatus::noCamera;
        return result;
    }
    char command[textCapacity];
    struct stat claimed {};
    const ClaimLock lock = claimLockOf(baseDirectory);
    result.number = findHighestPictureNumber(baseDirectory);
    int claim = reclaimTop(baseDirectory, lock, result, command, claimed);
    // The scan can miss pictures, and other runs can claim numbers meanwhile:
    // a name that turns out to be taken moves the capture on to the next.
    for (bool made = claim >= 0; !made;) {
        if (result.number == INT_MAX) {
            result.status = CaptureStatus::seriesFull;
            return result;
        }
        ++result.number;
        if (!formatPicturePath(result.path, baseDirectory, result.number)) {
            result.status = CaptureStatus::pathTooLong;
            return result;
        }
        if (!formatCameraCommand(command, result.camera, result.path)) {
            result.status = CaptureStatus::commandTooLong;
            return result;
        }
        made = claimPicture(result.path, lock, claim, claimed);
        if (!made && errno != EEXIST) {
            result.status = CaptureStatus::cannotCreate;
            result.detail = errno;
            return result;
        }
    }
    // The camera is run through the shell by design, with the path escaped.
    judgeCamera(std::system(command), result); // NOLINT(cert-env33-c)
    int picture = -1;
    struct stat st {};
    if (result.status == CaptureStatus::taken) {
        // Exit 0 says little: the camera program exits 0 on a full disk too,
        // having written only the front of the picture.
        result.status = checkPicture(result.path, picture, st);
    }
    if (result.status != CaptureStatus::taken) {
        releasePicture(result.path, claimed);
    } else if (const int error = syncPicture(picture, st, result.path); error != 0) {
        result.status = CaptureStatus::cannotSync;
        result.detail = error;
    }
    if (picture >= 0) {
        close(picture);
    }
    if (claim >= 0) {
        close(claim);
    }
    return result;
}
