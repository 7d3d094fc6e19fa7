// Support for the end-to-end tests: running the built picseries with a camera
// program of the test's choosing, and looking at what the run left.
#pragma once

#include "support/process.hpp"
#include "test_paths.hpp"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

bool endsWith(const std::string &text, const std::string &end);

// The names in dir and below it, relative to dir.
std::set<std::string> treeOf(const fs::path &dir);

// The words of each line of a rig's cases.out in dir whose second and third
// words are mount and what: "run MOUNT CASE ..." and "wrote MOUNT CASE ...".
std::vector<std::vector<std::string>> casesSaid(const fs::path &dir, const std::string &mount,
                                                const std::string &what);

// Returns whether no process holds a lock on any file in dir.
bool noneLocked(const fs::path &dir);

// Waits until done() holds, a minute at most; returns whether it does.
template <class Done> bool waitFor(Done done)
{
    for (int i = 0; i < 6000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

struct Decoded {
    bool ok = false;
    JDIMENSION width = 0;
    JDIMENSION height = 0;
    int components = 0;
    bool progressive = true;
};

// Decodes the whole JPEG file at path; ok is false when it is not one.
Decoded decodeJpeg(const fs::path &path);

// A camera program that picseries can be run with: the folder that holds it
// as rpicam-still, and what its processes need in their environment.
struct Camera {
    const char *name;
    std::string folder;
    std::vector<std::string> env;
};

// Names the camera in the tests' names.
inline void PrintTo(const Camera &camera, std::ostream *out)
{
    *out << camera.name;
}

// The stand-in, which every build has.
std::vector<Camera> standInCamera();

// The real camera program, where the build made one, or none; read once.
const std::vector<Camera> &realCamera();

class Picseries : public ::testing::Test {
  protected:
    // The arguments and environment that run picseries with args, with the
    // stand-in's folder (or path) as the whole PATH, so that no camera program
    // of the machine's own is found, and with env added.
    std::pair<std::vector<std::string>, std::vector<std::string>>
    command(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
            const char *path = nullptr) const
    {
        std::vector<std::string> argv(std::begin(emulator), std::end(emulator) - 1);
        argv.emplace_back(picseriesPath);
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> environment = environmentWithout(
            {"PATH", "CAMERA_STANDIN_LOG", "CAMERA_STANDIN_DELAY_MS", "CAMERA_STANDIN_EXIT",
             "CAMERA_STANDIN_SIGNAL", "CAMERA_STANDIN_SILENT", "CAMERA_STANDIN_EXIT_AFTER_WRITE",
             "CAMERA_STANDIN_WRITTEN_LOG", "CAMERA_STANDIN_KEEP_TIMES", "CAMERA_STANDIN_CUT_OFF",
             "CAMERA_STANDIN_BYTES", "CAMERA_STANDIN_WAIT_FOR", "CAMERA_STANDIN_OPEN_FIRST"});
        environment.push_back("PATH=" + std::string(path != nullptr ? path : cameraDirectory));
        environment.push_back("CAMERA_STANDIN_LOG=" + cameraLog().string());
        environment.insert(environment.end(), env.begin(), env.end());
        return {argv, environment};
    }

    // Runs picseries in the work directory as command() says and waits.
    Outcome run(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                const char *path = nullptr)
    {
        const auto [argv, environment] = command(args, env, path);
        return runProgram(argv, environment, work.path());
    }

    fs::path cameraLog() const { return logs.path() / "camera.log"; }
    std::vector<std::vector<std::string>> cameraCalls() const { return readCameraLog(cameraLog()); }

    TempDir work;
    TempDir logs;
};
