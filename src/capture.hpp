// Picture capture: numbering of the picture series and the camera command.
#pragma once

#include <cstddef>

// Room for a picture path or a camera command, terminating zero included.
inline constexpr std::size_t textCapacity = 256;

// The longest picture path the camera program takes: it forms its output
// name in 128 bytes and silently cuts anything longer.
inline constexpr std::size_t pictureNameLimit = 127;

// The camera programs, in the order they are looked for on the PATH: the
// still program's old name, then the name it has had since late 2023.
inline constexpr const char *cameraPrograms[] = {"libcamera-still", "rpicam-still"};

// What became of one capture; main turns it into a message and an exit status.
enum class CaptureStatus {
    taken,          // the camera wrote the picture
    noCamera,       // no camera program is on the PATH
    cannotList,     // the directory's listing cannot be read; detail is errno
    pathTooLong,    // the picture path is longer than the camera takes
    commandTooLong, // the camera command does not fit its buffer
    seriesFull,     // Pic_2147483647.jpg is taken, so no number is left
    cannotCreate,   // the picture file cannot be created; detail is errno
    cannotRun,      // the shell cannot be started; detail is errno
    cameraNotFound, // the shell found no camera program
    cameraFailed,   // the camera exited non-zero; detail is its status
    cameraKilled,   // the camera was killed; detail is the signal
    noPicture,      // the camera exited 0 but left no picture
    cutOff,         // the camera exited 0 but left a picture without its end
    cannotCheck,    // what the camera left cannot be read; detail is errno
    moved,          // the base directory names another directory than the
                    // one the run claimed its picture in
    cannotSync,     // the picture is there but not known to be on disk; detail is errno
    stopped,        // a signal stopped the run, which cleaned up; detail is the signal
};

struct CaptureResult {
    CaptureStatus status;
    const char *camera;      // the camera program, from cameraPrograms, once found
    int number;              // the picture number the capture used
    int detail;              // errno, exit status or signal, as status says
    char path[textCapacity]; // the picture path, whole unless pathTooLong
};

// Scans baseDirectory for regular files named as pictures and returns the
// highest picture number: 0 when there is none, or when the directory is
// missing or may be written but not read; -1 with errno when it cannot be
// opened or its listing cannot be read.
int findHighestPictureNumber(const char *baseDirectory);

// Forms "<baseDirectory>/Pic_<number>.jpg" in path; returns false when it
// is longer than pictureNameLimit.
bool formatPicturePath(char (&path)[textCapacity], const char *baseDirectory, int number);

// Takes the next picture of the series in baseDirectory with the camera
// program found on the PATH and returns what became of it. The picture
// counts as taken only when it is a whole JPEG, from its start marker to its
// end marker. The picture file is claimed before the camera runs: created
// exclusively, so that a number already taken is passed over rather than
// overwritten. On this machine's own file systems it is also locked and
// marked for as long as the run lives, and claims that killed runs left empty
// at the top of the series are taken over; on network file systems, whose
// locks can be lost while a camera writes, a killed run's claim stays and
// counts as a picture. A failed capture removes its claim while it is still
// empty; a picture taken is flushed to the disk, with the directory entry
// that names it, before the capture counts as taken. A stop by SIGHUP,
// SIGINT, SIGQUIT or SIGTERM is passed on to the camera and ends the capture
// as a failed one, a whole picture flushed, with status stopped; the camera
// is killed along with the process that runs this.
CaptureResult captureImage(const char *baseDirectory);
