// Picture capture: numbering of the picture series and the camera command.
#pragma once

#include <cstddef>
#include <ctime>

// Room for a picture path or a camera command, terminating zero included.
inline constexpr std::size_t textCapacity = 256;

// The modification time that marks an empty picture file as a claim of a run
// of picseries, for as long as the run holds its lock: 2000-01-01 00:00:00
// UTC, an even second, which every file system the boards use can hold.
inline constexpr std::time_t claimMark = 946684800;

// What became of one capture; main turns it into a message and an exit status.
enum class CaptureStatus {
    taken,          // the camera wrote the picture
    pathTooLong,    // the picture path does not fit its buffer
    commandTooLong, // the camera command does not fit its buffer
    seriesFull,     // Pic_2147483647.jpg is taken, so no number is left
    cannotCreate,   // the picture file cannot be created; detail is errno
    cannotRun,      // the shell cannot be started; detail is errno
    cameraNotFound, // the shell found no camera program
    cameraFailed,   // the camera exited non-zero; detail is its status
    cameraKilled,   // the camera was killed; detail is the signal
    noPicture,      // the camera exited 0 but left no picture
    cannotSync,     // the picture is there but not known to be on disk; detail is errno
};

struct CaptureResult {
    CaptureStatus status;
    int number;              // the picture number the capture used
    int detail;              // errno, exit status or signal, as status says
    char path[textCapacity]; // the picture path, whole unless pathTooLong
};

// Reads the number from a file name as the pattern "Pic_%d.jpg" would: the
// prefix, optional white space and sign, then decimal digits; what follows the
// digits does not matter. Returns whether the name counts, which it does not
// when the number lies outside int.
bool readPictureNumber(const char *name, int &number);

// Scans baseDirectory for regular files named as pictures and returns the
// highest picture number, or 0 when there is none or the directory cannot be
// listed.
int findHighestPictureNumber(const char *baseDirectory);

// Forms "<baseDirectory>/Pic_<number>.jpg" in path; returns false when it
// does not fit.
bool formatPicturePath(char (&path)[textCapacity], const char *baseDirectory, int number);

// Forms the shell command that has the camera write picturePath, with the
// path double-quoted and escaped so that the shell passes it on byte for
// byte; returns false when it does not fit.
bool formatCameraCommand(char (&command)[textCapacity], const char *picturePath);

// Takes the next picture of the series in baseDirectory and returns what
// became of it. The picture file is claimed before the camera runs: created
// exclusively, so that a number already taken is passed over rather than
// overwritten, and locked and marked for as long as the run lives. Claims
// that killed runs left empty at the top of the series are taken over. A
// failed capture removes its claim while it is still empty; a picture taken
// is flushed to the disk, with the directory entry that names it, before
// the capture counts as taken.
CaptureResult captureImage(const char *baseDirectory);
