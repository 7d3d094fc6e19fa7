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

// Claims the next free number above result.number in the directory open at
// series, or fails with openError where the base directory is no directory
// (series -1); returns whether a name was claimed, with result's status set
// where none was.
bool claimNext(int series, int openError, const char *baseDirectory, ClaimLock lock,
               CaptureResult &result, char (&command)[textCapacity], int &claim,
               struct stat &claimed)
{
    // The scan can miss pictures, and other runs can claim numbers meanwhile:
    // a name that turns out to be taken moves the capture on to the next.
    for (;;) {
        if (result.number == INT_MAX) {
            result.status = CaptureStatus::seriesFull;
            return false;
        }
        ++result.number;
        if (!formatPicturePath(result.path, baseDirectory, result.number)) {
            result.status = CaptureStatus::pathTooLong;
            return false;
        }
        if (!formatCameraCommand(command, result.camera, result.path)) {
            result.status = CaptureStatus::commandTooLong;
            return false;
        }
        if (series < 0) {
            result.status = CaptureStatus::cannotCreate;
            result.detail = openError;
            return false;
        }
        if (claimPicture(series, pictureName(result.path), lock, claim, claimed)) {
            return true;
        }
        if (errno != EEXIST) {
            result.status = CaptureStatus::cannotCreate;
            result.detail = errno;
            return false;
        }
    }
}

// Takes the picture that the scan of series found the place for, catching
// stops from here on; sets the outcome in result as it would be without a
// stop.
void shoot(int series, int openError, const SeriesScan &scan, const char *baseDirectory,
           CaptureResult &result)
{
    char command[textCapacity];
    struct stat claimed {};
    const ClaimLock lock = claimLockOf(series);
    result.number = scan.highest;
    // Until the scan, a stop leaves nothing to clean up; from here on it
    // leaves what a failed capture leaves.
    catchStops();
    int claim =
        reclaimTop(series, baseDirectory, scan.takeOverFloor, lock, result, command, claimed);
    if (claim < 0 &&
        !claimNext(series, openError, baseDirectory, lock, result, command, claim, claimed)) {
        return;
    }
    const char *name = pictureName(result.path);
    judgeCamera(runCamera(command), result);
    int picture = -1;
    struct stat st {};
    if (result.status != CaptureStatus::cannotRun && !namesSeries(baseDirectory, series)) {
        // The camera wrote by the path, which must still lead into the
        // directory that holds the claim: a folder moved or a link switched
        // meanwhile sent the picture elsewhere, over whatever had its name.
        result.status = CaptureStatus::moved;
    } else if (result.status == CaptureStatus::taken || stopSignal() != 0) {
        // Exit 0 says little: the camera program exits 0 on a full disk too,
        // having written only the front of the picture. A stopped camera may
        // have written its picture whole, which is then kept and flushed.
        result.status = checkPicture(series, name, picture, st);
        result.detail = result.status == CaptureStatus::cannotCheck ? errno : 0;
    }
    if (result.status != CaptureStatus::taken) {
        releasePicture(series, name, claimed);
    } else if (const int error = syncPicture(picture, st, series); error != 0) {
        result.status = CaptureStatus::cannotSync;
        result.detail = error;
    }
    if (picture >= 0) {
        close(picture);
    }
    if (claim >= 0) {
        close(claim);
    }
}

// Takes the next picture of the series in baseDirectory with the directory
// held open throughout; returns the outcome as it would be without a stop.
CaptureResult takePicture(const char *baseDirectory)
{
    CaptureResult result{};
    result.camera = findCameraProgram(std::getenv("PATH"));
    if (result.camera == nullptr) {
        result.status = CaptureStatus::noCamera;
        return result;
    }
    bool listable = false;
    const int series = openSeries(baseDirectory, listable);
    const int openError = series < 0 ? errno : 0;
    const SeriesScan scan = series >= 0 && listable ? scanSeries(series) : SeriesScan{};
    // A directory that cannot be listed for a passing reason (EIO, EMFILE)
    // is one whose listing fails: either would send the picture into a gap.
    if ((series < 0 && !isNoDirectory(openError)) || scan.error != 0) {
        result.status = CaptureStatus::cannotList;
        result.detail = series < 0 ? openError : scan.error;
    } else {
        shoot(series, openError, scan, baseDirectory, result);
    }
    if (series >= 0) {
        close(series);
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
