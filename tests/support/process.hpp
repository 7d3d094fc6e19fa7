// Test support: running the built programs, reading what the camera got,
// and making directories to scan.
#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

struct Outcome {
    int exitStatus = -1; // -1 unless the program exited
    int signal = 0;      // the signal that ended it, if one did
    std::string out;
    std::string err;
};

class TempDir;

// A program started by startProgram, with the files that take its output.
struct Started {
    pid_t pid = -1;
    std::filesystem::path out;
    std::filesystem::path err;
};

// Starts argv[0] with argv in directory cwd with exactly the environment env,
// its output going to files in captureDir, and in a process group of its own
// when ownGroup is set; returns at once.
Started startProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                     const std::filesystem::path &cwd, const std::filesystem::path &captureDir,
                     bool ownGroup = false);

// Waits for a started program and returns how it ended and what it printed.
Outcome finishProgram(const Started &started);

// Runs a program as startProgram does, waits for it, and returns how it ended
// and what it printed.
Outcome runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                   const std::filesystem::path &cwd);

// This process's environment without the variables named in drop.
std::vector<std::string> environmentWithout(const std::vector<std::string> &drop);

// Reads the log the camera stand-in appends to: one argument list per call.
std::vector<std::vector<std::string>> readCameraLog(const std::filesystem::path &log);

// Creates the directory entry that entry describes in dir: its kind, a
// space, its name. Kinds: f regular file holding the text of entry itself,
// d directory, l symbolic link to "target", p named pipe.
void makeEntry(const std::filesystem::path &dir, const std::string &entry);

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::filesystem::path &file);

// A fresh directory under the temporary directory, removed with its contents
// when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return path_; }

  private:
    std::filesystem::path path_;
};
