// One run's capture, from finding the camera to the picture on the disk, told
// with the series, the camera program and the claim.
#include "capture.hpp"
#include "capture_internal.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Takes the next picture of the series in baseDirectory, catching stops from
// the scan on; returns the outcome as it would be without a stop.
CaptureResult takePicture(const char *baseDirectory)
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
    // Until the scan, a stop leaves nothing to clean up; from here on it
    // leaves what a failed capture leaves.
    catchStops();
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
    judgeCamera(runCamera(command), result);
    int picture = -1;
    struct stat st {};
    // Exit 0 says little: the camera program exits 0 on a full disk too,
    // having written only the front of the picture. A stopped camera may
    // have written its picture whole, which is then kept and flushed.
    if (result.status == CaptureStatus::taken || stopSignal() != 0) {
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

} // namespace

CaptureResult captureImage(const char *baseDirectory)
{
    CaptureResult result = takePicture(baseDirectory);
    // Whatever else became of the capture, a stop made it a stop; from here
    // on a stop ends the process at once.
    uncatchStops();
    if (const int signal = stopSignal(); signal != 0) {
        result.status = CaptureStatus::stopped;
        result.detail = signal;
    }
    return result;
}
