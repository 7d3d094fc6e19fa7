// Running the built programs from tests, and reading what the camera got.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct Outcome {
    int exitStatus = -1; // -1 unless the program exited
    int signal = 0;      // the signal that ended it, if one did
    std::string out;
    std::string err;
};

// Runs argv[0] with argv in directory cwd with exactly the environment env,
// waits for it, and returns how it ended and what it printed.
Outcome runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                   const std::filesystem::path &cwd);

// This process's environment without the variables named in drop.
std::vector<std::string> environmentWithout(const std::vector<std::string> &drop);

// Reads the log the camera stand-in appends to: one argument list per call.
std::vector<std::vector<std::string>> readCameraLog(const std::filesystem::path &log);

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
