// What the files of the capture module share among themselves, beyond its
// public face in capture.hpp: the rooms' functions that captureImage and the
// tests call.
#pragma once

#include "capture.hpp"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <sys/stat.h>

// The time that marks an empty picture file as a claim of a run of
// picseries, for as long as the run holds its lock: 2000-01-01 00:00:00 UTC,
// an even second and a whole day, which every file system the boards use can
// hold, FAT's day of last access included. A claim carries it as its access
// time, which the camera's truncating open and its writes leave alone, and as
// its modification time, the mark of earlier releases, which they replace.
inline constexpr std::time_t claimMark = 946684800;

// Returns whether a and b describe the same file; never when b is unknown.
inline bool isSameFile(const struct stat &a, const struct stat &b)
{
    return b.st_ino != 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The series (series.cpp).

// The bytes of the listing that the scan reads at a time: what glibc gives
// readdir on a local disk, where on NFS it would take 1 MiB.
inline constexpr std::size_t listingBufferSize = std::size_t{32} * 1024;

// How far below the highest number a take-over may reach: the claims that
// killed runs left, one a run, never come near it.
inline constexpr int takeOverReach = 64;

// What a scan of the series found.
struct SeriesScan {
    int highest;       // the highest picture number, or 0 where there is none
    int takeOverFloor; // a take-over gives out numbers above this only: the
                       // highest that a name other than Pic_<n>.jpg holds
                       // (Pic_007.jpg, Pic_8.png), or the reach below highest
    int error;         // errno where the listing could not be read, or 0
};

// Reads the number from a file name as the pattern "Pic_%d.jpg" would: the
// prefix, optional white space and sign, then decimal digits; what follows the
// digits does not matter. Returns whether the name counts, which it does not
// when the number lies outside int.
bool readPictureNumber(const char *name, int &number);

// Opens the directory that holds the pictures of baseDirectory for a run:
// for listing where it may be read, else as a place only, as a folder that
// others may write into but not list. Returns the descriptor, with listable
// set, or -1 with errno.
int openSeries(const char *baseDirectory, bool &listable);

// Returns whether error, from openSeries, says that the base directory is no
// directory that picseries may enter (missing, not a directory, not to be
// searched), rather than that opening it failed.
bool isNoDirectory(int error);

// Reads the whole listing of the directory open at series and returns what
// it found.
SeriesScan scanSeries(int series);

// Returns whether baseDirectory still names the directory open at series,
// or cannot tell for a failure that is no answer.
bool namesSeries(const char *baseDirectory, int series);

// Returns the picture's name in path, what follows its last slash.
const char *pictureName(const char *path);

// The camera program (camera.cpp).

// Looks for the camera programs in the directories of searchPath, a PATH
// value or nullptr when PATH is unset, as /bin/sh looks for a command;
// returns the first of cameraPrograms found, or nullptr.
const char *findCameraProgram(const char *searchPath);

// Forms the shell command that has the camera program write picturePath,
// with the path double-quoted and escaped so that the shell passes it on byte
// for byte, and with each % doubled, since the camera reads the name as a
// printf format; returns false when it does not fit.
bool formatCameraCommand(char (&command)[textCapacity], const char *camera,
                         const char *picturePath);

// Turns the wait status of the camera command, or -1 with errno where it
// could not be run, into the outcome of the capture.
void judgeCamera(int status, CaptureResult &result);

// Looks at what the camera left under name in the directory open at series,
// reading its first two bytes and its last two only; returns taken for a
// whole JPEG, which starts with the marker FF D8 and ends with the marker FF
// D9, cutOff for a file that holds something else, noPicture for nothing or
// no regular file, cannotCheck with errno where it cannot be read. For a
// whole picture, fd is left open on it and st describes it.
CaptureStatus checkPicture(int series, const char *name, int &fd, struct stat &st);

// Stops from outside (stops.cpp).

// Catches SIGHUP, SIGINT, SIGQUIT and SIGTERM, except those ignored since the
// start, so that a stop lets the run end its camera and clean up first.
void catchStops();

// Gives the signals that catchStops caught their default action again, so
// that a stop from now on ends the process at once.
void uncatchStops();

// Returns the signal that stopped the run while catchStops held, or 0.
int stopSignal();

// Runs command through /bin/sh, with the shell made to exec the camera, and
// waits for it; passes a stop on to the camera, and has the camera killed
// when this process dies. Returns its wait status, or -1 with errno where it
// could not be run, EINTR where a stop came first.
int runCamera(const char *command);

// How claims are made on the file system that holds the series
// (claim_lock.cpp).
enum class ClaimLock {
    file, // locked with flock(2) and marked, so that what a killed run left is
          // taken over: file systems of this machine
    none, // neither locked nor marked, and never taken over: file systems of
          // other machines, whose locks can be lost while the camera writes
};

// Returns how claims are made on a file system of statfs(2) type type, on
// device.
ClaimLock claimLockFor(std::uint32_t type, dev_t device);

// Returns how claims are made in the directory open at series, from its file
// system.
ClaimLock claimLockOf(int series);

// The claim on the picture file (claim.cpp). Each works on the directory open
// at series, the one that the run scanned, whatever its path names meanwhile.

// Creates the picture file name if no file of that name exists, as this
// run's claim; where lock is file, locks and marks it and leaves it open at
// fd for as long as the run lives, elsewhere closes it at once and sets fd
// to -1. Returns whether the name is claimed; errno is EEXIST when it is
// taken, whatever the file system said.
bool claimPicture(int series, const char *name, ClaimLock lock, int &fd, struct stat &claimed);

// Takes over the abandoned claims at the top of the series, from
// result.number down while they are contiguous, above floor, and such that
// this run's camera may write them: keeps the lowest, and removes the others
// as their killed runs would have. Returns the descriptor of the claim kept,
// with result's number and path set to it, or -1 when the top of the series
// is no such claim, or lock is none.
int reclaimTop(int series, const char *baseDirectory, int floor, ClaimLock lock,
               CaptureResult &result, char (&command)[textCapacity], struct stat &claimed);

// Removes the file name that this run claimed, as long as it is still the
// empty file that the run created: for a capture that failed, or a claim it
// could not lock.
void releasePicture(int series, const char *name, const struct stat &claimed);

// Flushes the picture open at fd, which st describes, to the disk, then the
// directory open at series that names it, dating the picture now where it
// still carries the mark; returns 0, or errno.
int syncPicture(int fd, const struct stat &st, int series);
