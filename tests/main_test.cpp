// End to end: the built picseries, run with the camera stand-in first on PATH.
#include "support/end_to_end.hpp"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <memory>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

const std::string usageEnd = " <base_directory> <command>\n";
const std::string unknownCommand = "Unknown command. Use 'image'.\n";

// What the camera gets for the picture path: every % doubled, since it reads
// the name as a printf format.
std::vector<std::string> cameraArguments(const std::string &path)
{
    std::string name;
    for (const char c : path) {
        name.append(c == '%' ? 2 : 1, c);
    }
    return {"--width", "1024", "--height", "768", "-o", name};
}

struct WrongUse {
    std::vector<std::string> args;
    std::string out; // with the program's path in front, for usage
    bool usage;
};

TEST_F(Picseries, AnswersWrongUseOnStandardOutput)
{
    const WrongUse cases[] = {
        {{}, usageEnd, true},
        {{"photos"}, usageEnd, true},
        {{"photos", "Image"}, unknownCommand, false},
        {{"photos", "IMAGE"}, unknownCommand, false},
        {{"photos", "image "}, unknownCommand, false},
        {{"photos", " image"}, unknownCommand, false},
        {{"photos", ""}, unknownCommand, false},
        {{"photos", "imag"}, unknownCommand, false},
        {{"missing", "video", "image"}, unknownCommand, false},
    };
    fs::create_directory(work.path() / "photos");
    for (const WrongUse &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.out, c.usage ? "Usage: " + std::string(picseriesPath) + c.out : c.out);
        EXPECT_EQ(outcome.err, "");
        EXPECT_TRUE(cameraCalls().empty());
        EXPECT_EQ(treeOf(work.path()), std::set<std::string>{"photos"});
    }
}

struct Capture {
    const char *what;
    std::string base;
    std::vector<std::string> pictures; // present before the run
    std::vector<std::string> extraArgs;
    std::string cameraPath;
};

TEST_F(Picseries, TakesTheNextPicture)
{
    const Capture cases[] = {
        {"empty", "photos", {}, {}, "photos/Pic_1.jpg"},
        {"by value", "photos", {"Pic_1.jpg", "Pic_2.jpg", "Pic_10.jpg"}, {}, "photos/Pic_11.jpg"},
        {"leading zeros", "photos", {"Pic_007.jpg"}, {}, "photos/Pic_8.jpg"},
        {"beyond 32 bits", "photos", {"Pic_6442450943.jpg"}, {}, "photos/Pic_1.jpg"},
        {"the last number", "photos", {"Pic_2147483646.jpg"}, {}, "photos/Pic_2147483647.jpg"},
        {"further arguments", "photos", {}, {"now", "-o", "x"}, "photos/Pic_1.jpg"},
        {"trailing slash", "photos/", {}, {}, "photos//Pic_1.jpg"},
        {"space", "my photos", {}, {}, "my photos/Pic_1.jpg"},
        {"command substitution", "a$(touch x)b", {}, {}, "a$(touch x)b/Pic_1.jpg"},
        {"backquotes", "a`touch x`b", {}, {}, "a`touch x`b/Pic_1.jpg"},
        {"double quote", "a\"b", {}, {}, "a\"b/Pic_1.jpg"},
        {"backslash", "a\\b", {}, {}, "a\\b/Pic_1.jpg"},
        {"quote breakout", "a\"; touch x; \"b", {}, {}, "a\"; touch x; \"b/Pic_1.jpg"},
        {"variable", "$HOME", {}, {}, "$HOME/Pic_1.jpg"},
        {"backslash before quote", "a\\\"b", {}, {}, "a\\\"b/Pic_1.jpg"},
        {"newline", "a\nb", {}, {}, "a\nb/Pic_1.jpg"},
        {"percent", "100%done", {}, {}, "100%done/Pic_1.jpg"},
        {"conversions", "a%sb%n%d", {}, {}, "a%sb%n%d/Pic_1.jpg"},
        {"the longest path", std::string(117, 'a'), {}, {}, std::string(117, 'a') + "/Pic_1.jpg"},
    };
    for (const Capture &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(work.path() / c.base);
        fs::remove(cameraLog());
        fs::create_directory(work.path() / c.base);
        for (const std::string &picture : c.pictures) {
            std::ofstream(work.path() / c.base / picture) << "picture";
        }
        std::vector<std::string> args = {c.base, "image"};
        args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());

        const Outcome outcome = run(args);
        EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "");
        const auto calls = cameraCalls();
        ASSERT_EQ(calls.size(), 1U);
        EXPECT_EQ(calls[0], cameraArguments(c.cameraPath));
        EXPECT_GT(fs::file_size(work.path() / c.cameraPath), 0U);
        // Nothing in the name ran as a command.
        EXPECT_FALSE(fs::exists(work.path() / "x"));
        EXPECT_EQ(treeOf(work.path() / c.base).size(), c.pictures.size() + 1);
        fs::remove_all(work.path() / c.base);
    }
}

struct Failure {
    const char *what;
    std::string base; // created unless empty
    std::string args; // the base directory argument, when not base
    std::vector<std::string> pictures;
    std::vector<std::string> env;
    int exitStatus;
    std::string err;  // all of standard error, or its end when the shell speaks
    bool shellSpeaks; // the shell reports on the camera before picseries does
    std::size_t cameraCalls;
    std::size_t filesLeft; // new files after the run
};

TEST_F(Picseries, ReportsFailures)
{
    const std::string longBase(118, 'a');
    const std::string longerThanCommand(117, '%');
    const Failure cases[] = {
        {"camera fails",
         "photos",
         "photos",
         {},
         {"CAMERA_STANDIN_EXIT=3"},
         69,
         "picseries: rpicam-still: exited with status 3\n",
         false,
         1,
         0},
        {"camera fails high",
         "photos",
         "photos",
         {},
         {"CAMERA_STANDIN_EXIT=255"},
         69,
         "picseries: rpicam-still: exited with status 255\n",
         false,
         1,
         0},
        {"camera exits 128, no signal",
         "photos",
         "photos",
         {},
         {"CAMERA_STANDIN_EXIT=128"},
         69,
         "picseries: rpicam-still: exited with status 128\n",
         false,
         1,
         0},
        {"camera cuts the picture off",
         "photos",
         "photos",
         {},
         {"CAMERA_STANDIN_CUT_OFF=1000"},
         69,
         "picseries: rpicam-still: wrote a cut-off picture to photos/Pic_1.jpg\n",
         false,
         1,
         1},
        {"camera leaves no start marker",
         "photos",
         "photos",
         {},
         {"CAMERA_STANDIN_BYTES=6162FFD9"},
         69,
         "picseries: rpicam-still: wrote a cut-off picture to photos/Pic_1.jpg\n",
         false,
         1,
         1},
        {"camera leaves the smallest whole picture",
         "photos",
         "photos",
         {},
         {"CAMERA_STANDIN_BYTES=FFD8FFD9"},
         0,
         "",
         false,
         1,
         1},
        {"camera fails after writing",
         "photos",
         "photos",
         {},
         {"CAMERA_STANDIN_EXIT_AFTER_WRITE=4"},
         69,
         "picseries: rpicam-still: exited with status 4\n",
         false,
         1,
         1},
        {"camera exits 127",
         "photos",
         "photos",
         {},
         {"CAMERA_STANDIN_EXIT=127"},
         69,
         "picseries: rpicam-still: not found\n",
         false,
         1,
         0},
        {"camera exits 128 + NSIG, no signal",
         "photos",
         "photos",
         {},
         {"CAMERA_STANDIN_EXIT=" + std::to_string(128 + NSIG)},
         69,
         "picseries: rpicam-still: exited with status " + std::to_string(128 + NSIG) + "\n",
         false,
         1,
         0},
        {"camera killed",
         "photos",
         "photos",
         {"Pic_1.jpg"},
         {"CAMERA_STANDIN_SIGNAL=9"},
         69,
         "picseries: rpicam-still: killed by signal 9 (Killed)\n",
         true,
         1,
         0},
        {"camera silent",
         "photos",
         "photos",
         {"Pic_1.jpg"},
         {"CAMERA_STANDIN_SILENT=1"},
         69,
         "picseries: rpicam-still: wrote no picture to photos/Pic_2.jpg\n",
         false,
         1,
         0},
        {"series full",
         "photos",
         "photos",
         {"Pic_2147483647.jpg", "Pic_3.jpg"},
         {},
         73,
         "picseries: cannot add to photos: series is full at Pic_2147483647.jpg\n",
         false,
         0,
         0},
        {"path too long",
         longBase,
         longBase,
         {},
         {},
         73,
         "picseries: cannot create " + longBase + "/Pic_1.jpg: File name too long\n",
         false,
         0,
         0},
        {"command too long",
         longerThanCommand,
         longerThanCommand,
         {},
         {},
         73,
         "picseries: cannot create " + longerThanCommand +
             "/Pic_1.jpg: File name too long for the camera command\n",
         false,
         0,
         0},
        {"missing directory",
         "",
         "missing",
         {},
         {},
         73,
         "picseries: cannot create missing/Pic_1.jpg: No such file or directory\n",
         false,
         0,
         0},
        {"not a directory",
         "photos",
         "photos/Pic_1.jpg",
         {"Pic_1.jpg"},
         {},
         73,
         "picseries: cannot create photos/Pic_1.jpg/Pic_1.jpg: Not a directory\n",
         false,
         0,
         0},
    };
    for (const Failure &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(cameraLog());
        if (!c.base.empty()) {
            fs::create_directory(work.path() / c.base);
        }
        for (const std::string &picture : c.pictures) {
            std::ofstream(work.path() / c.base / picture) << "picture";
        }
        const auto before = treeOf(work.path());
        const Outcome outcome = run({c.args, "image"}, c.env);
        EXPECT_EQ(outcome.exitStatus, c.exitStatus);
        EXPECT_EQ(outcome.out, "");
        if (c.shellSpeaks) {
            EXPECT_TRUE(endsWith(outcome.err, c.err)) << outcome.err;
        } else {
            EXPECT_EQ(outcome.err, c.err);
        }
        EXPECT_EQ(cameraCalls().size(), c.cameraCalls);
        // No empty file is left behind; a file with content always stays.
        EXPECT_EQ(treeOf(work.path()).size(), before.size() + c.filesLeft);
        for (const std::string &picture : c.pictures) {
            EXPECT_EQ(readFile(work.path() / c.base / picture), "picture");
        }
        if (!c.base.empty()) {
            fs::remove_all(work.path() / c.base);
        }
    }
}

struct Search {
    const char *path;   // folders by letter: L holds libcamera-still, R rpicam-still, N a
                        // libcamera-still that may not be run, D a folder of that name, E
                        // nothing; the work directory holds rpicam-still
    const char *camera; // the one that runs, or none
};

TEST_F(Picseries, RunsTheCameraProgramThatTheShellWouldFind)
{
    const Search cases[] = {
        {"L", "libcamera-still"}, {"R", "rpicam-still"},   {"R:L", "libcamera-still"},
        {"N:R", "rpicam-still"},  {"D:R", "rpicam-still"}, {"E:", "rpicam-still"},
        {"", "rpicam-still"},     {"E", nullptr},          {"N", nullptr},
    };
    const fs::path standIn = fs::path(cameraDirectory) / "rpicam-still";
    for (const char *entry : {"L/libcamera-still", "R/rpicam-still", "D/libcamera-still/x", "E/"}) {
        fs::create_directories((logs.path() / entry).parent_path());
    }
    fs::create_symlink(standIn, logs.path() / "L/libcamera-still");
    fs::create_symlink(standIn, logs.path() / "R/rpicam-still");
    fs::create_symlink(standIn, work.path() / "rpicam-still");
    fs::create_directory(logs.path() / "N");
    std::ofstream(logs.path() / "N/libcamera-still") << "#!/bin/sh\n";
    fs::create_directory(work.path() / "photos");
    for (const Search &c : cases) {
        SCOPED_TRACE(c.path);
        std::string path;
        for (const char *p = c.path; *p != '\0'; ++p) {
            path += *p == ':' ? std::string(":") : (logs.path() / std::string(1, *p)).string();
        }
        const Outcome outcome = run({"photos", "image"}, {"CAMERA_STANDIN_EXIT=3"}, path.c_str());
        EXPECT_EQ(outcome.exitStatus, 69);
        // One line of its own and none of the shell's: no shell runs when no
        // camera program is found.
        EXPECT_EQ(outcome.err,
                  c.camera != nullptr
                      ? "picseries: " + std::string(c.camera) + ": exited with status 3\n"
                      : "picseries: no camera program: neither libcamera-still nor "
                        "rpicam-still is on the PATH\n");
        EXPECT_TRUE(fs::is_empty(work.path() / "photos"));
    }
}

TEST_F(Picseries, ConcurrentRunsTakeDifferentNumbers)
{
    constexpr int runs = 32;
    fs::create_directory(work.path() / "photos");
    const auto [argv, environment] = command({"photos", "image"}, {"CAMERA_STANDIN_DELAY_MS=100"});
    std::vector<std::unique_ptr<TempDir>> captures;
    std::vector<Started> started;
    for (int i = 0; i < runs; ++i) {
        captures.push_back(std::make_unique<TempDir>());
        started.push_back(startProgram(argv, environment, work.path(), captures.back()->path()));
    }
    for (const Started &s : started) {
        const Outcome outcome = finishProgram(s);
        EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    }

    std::set<std::string> expected;
    std::set<std::string> cameraPaths;
    for (int n = 1; n <= runs; ++n) {
        expected.insert("Pic_" + std::to_string(n) + ".jpg");
    }
    EXPECT_EQ(treeOf(work.path() / "photos"), expected);
    for (const std::string &name : expected) {
        EXPECT_GT(fs::file_size(work.path() / "photos" / name), 0U) << name;
    }
    const auto calls = cameraCalls();
    for (const auto &call : calls) {
        cameraPaths.insert(call.back());
    }
    EXPECT_EQ(calls.size(), std::size_t{runs});
    EXPECT_EQ(cameraPaths.size(), std::size_t{runs});
}

// The names of the empty files in dir, or of those that hold something.
std::set<std::string> filesIn(const fs::path &dir, bool empty)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir)) {
        if ((fs::file_size(entry.path()) == 0) == empty) {
            names.insert(entry.path().filename().string());
        }
    }
    return names;
}

// Makes the file at path immutable, which keeps even root from writing it, or
// mutable again; where that cannot be done, the file stays as it is.
void setImmutable(const fs::path &path, bool on)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    close(fd);
}

// The picture names of the numbers in text, such as "1 2".
std::set<std::string> picturesNumbered(const std::string &text)
{
    std::set<std::string> names;
    std::istringstream numbers(text);
    for (std::string n; numbers >> n;) {
        names.insert("Pic_" + n + ".jpg");
    }
    return names;
}

struct Reclaim {
    const char *what;
    // The files before, each a kind and a number: p picture, e empty file, c
    // claim that a killed run left, l claim that a live run holds, m marked
    // file with content, h empty file dated half a second past the mark, r
    // claim that a killed run left and this run's camera may not write.
    std::string before;
    std::string taken; // the number the camera is asked for
    std::string pictures;
    std::string empty; // the numbers of the files left afterwards
};

TEST_F(Picseries, TakesOverClaimsThatKilledRunsLeftOnTop)
{
    const Reclaim cases[] = {
        {"claim on top", "p1 c2", "2", "1 2", ""},
        {"claims on top", "p1 c2 c3 c4", "2", "1 2", ""},
        {"nothing but claims", "c1 c2", "1", "1", ""},
        {"a claim at 0 stays", "c0 c1", "1", "1", "0"},
        {"a gap ends the claims", "p1 c3 c4", "3", "1 3", ""},
        {"claims below a picture stay", "c1 c2 p3", "4", "3 4", "1 2"},
        {"a user's empty file", "p1 e5", "6", "1 6", "5"},
        {"a user's empty file below a claim", "e1 c2", "2", "2", "1"},
        {"a marked file with content", "m3", "4", "3 4", ""},
        {"half a second past the mark", "p1 h2", "3", "1 3", "2"},
        {"a live claim on top", "p1 l2", "3", "1 3", "2"},
        {"a live claim below a claim", "p1 c2 l3 c4", "4", "1 4", "2 3"},
        {"a claim named otherwise", "p1 c02", "3", "1 3", "02"},
        {"a picture of its number named otherwise", "p007 c7", "8", "007 8", "7"},
        {"a picture of the number below named otherwise", "p1 p02 c2 c3", "3", "02 1 3", "2"},
        {"a claim the camera may not write", "p1 r2", "3", "1 3", "2"},
        {"the last number", "p2147483646 c2147483647", "2147483647", "2147483646 2147483647", ""},
    };
    const fs::path photos = work.path() / "photos";
    for (const Reclaim &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(cameraLog());
        fs::create_directory(photos);
        std::vector<int> liveClaims;
        std::istringstream before(c.before);
        for (std::string file; before >> file;) {
            const fs::path path = photos / ("Pic_" + file.substr(1) + ".jpg");
            std::ofstream(path) << (file[0] == 'p' || file[0] == 'm' ? "picture" : "");
            if (file[0] != 'p' && file[0] != 'e') {
                // 2000-01-01 00:00:00 UTC, as the modification time: the mark
                // of earlier releases, whose claims are still taken over.
                const timespec mark[2] = {{0, UTIME_NOW},
                                          {946684800, file[0] == 'h' ? 500000000 : 0}};
                ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), mark, 0), 0);
            }
            if (file[0] == 'l') {
                liveClaims.push_back(open(path.c_str(), O_RDONLY | O_CLOEXEC));
                ASSERT_EQ(flock(liveClaims.back(), LOCK_EX), 0);
            }
            if (file[0] == 'r') {
                fs::permissions(path, fs::perms::owner_read);
                setImmutable(path, true);
            }
        }
        const Outcome outcome = run({"photos", "image"});
        for (const int fd : liveClaims) {
            close(fd);
        }
        EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
        EXPECT_EQ(cameraCalls(),
                  decltype(cameraCalls()){cameraArguments("photos/Pic_" + c.taken + ".jpg")});
        EXPECT_EQ(filesIn(photos, false), picturesNumbered(c.pictures));
        EXPECT_EQ(filesIn(photos, true), picturesNumbered(c.empty));
        for (const auto &entry : fs::directory_iterator(photos)) {
            setImmutable(entry.path(), false);
        }
        fs::remove_all(photos);
    }
}

// The base directory is a link, switched to another folder while the camera
// waits: the camera writes there, over the picture of that number.
TEST_F(Picseries, FailsWhenItsDirectoryChangesDuringTheRun)
{
    for (const char *entry :
         {"d d1", "d d2", "f d1/Pic_1.jpg", "f d2/Pic_1.jpg", "f d2/Pic_2.jpg"}) {
        makeEntry(work.path(), entry);
    }
    fs::create_symlink("d1", work.path() / "cur");
    const fs::path go = logs.path() / "go";
    const auto [argv, environment] =
        command({"cur", "image"}, {"CAMERA_STANDIN_WAIT_FOR=" + go.string()});
    const Started started = startProgram(argv, environment, work.path(), logs.path());
    ASSERT_TRUE(waitFor([&] { return cameraCalls().size() == 1; }));
    fs::create_symlink("d2", work.path() / "new");
    fs::rename(work.path() / "new", work.path() / "cur");
    std::ofstream{go};
    const Outcome outcome = finishProgram(started);
    EXPECT_EQ(outcome.exitStatus, 73);
    EXPECT_EQ(outcome.err, "picseries: cur: directory moved or replaced during the run\n");
    // The claim is gone, and every file with content stays.
    EXPECT_EQ(treeOf(work.path() / "d1"), picturesNumbered("1"));
    EXPECT_EQ(filesIn(work.path() / "d2", false), picturesNumbered("1 2"));
}

struct Kill {
    const char *what;
    int runs; // started at once, each killed while its camera runs
    int signal;
    bool wholeGroup;      // picseries, its shell and its camera, as timeout(1) sends it
    int runsAfter;        // one after the other, once the killed runs have ended
    std::string pictures; // the numbers of all the files afterwards
};

TEST_F(Picseries, KilledRunsLeaveTheSeriesWhole)
{
    const Kill cases[] = {
        {"TERM to the group", 1, SIGTERM, true, 1, "1"},
        {"KILL to the group", 1, SIGKILL, true, 1, "1"},
        {"three killed at once", 3, SIGKILL, true, 4, "1 2 3 4"},
        // Its camera is killed along with it, and the next run takes the claim over.
        {"picseries killed alone", 1, SIGKILL, false, 1, "1"},
    };
    const fs::path photos = work.path() / "photos";
    for (const Kill &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(cameraLog());
        fs::create_directory(photos);
        const auto [argv, environment] =
            command({"photos", "image"}, {"CAMERA_STANDIN_DELAY_MS=3000"});
        std::vector<std::unique_ptr<TempDir>> captures;
        std::vector<Started> started;
        for (int i = 0; i < c.runs; ++i) {
            captures.push_back(std::make_unique<TempDir>());
            started.push_back(
                startProgram(argv, environment, work.path(), captures.back()->path(), true));
        }
        ASSERT_TRUE(waitFor([&] { return cameraCalls().size() == std::size_t(c.runs); }));
        for (const Started &s : started) {
            kill(c.wholeGroup ? -s.pid : s.pid, c.signal);
        }
        for (const Started &s : started) {
            EXPECT_EQ(finishProgram(s).signal, c.signal);
        }
        // The cameras of killed runs end a moment after picseries.
        ASSERT_TRUE(waitFor([&] { return noneLocked(photos); }));
        for (int i = 0; i < c.runsAfter; ++i) {
            const Outcome outcome = run({"photos", "image"});
            EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
        }
        const std::set<std::string> expected = picturesNumbered(c.pictures);
        EXPECT_TRUE(waitFor([&] { return filesIn(photos, false) == expected; }));
        EXPECT_EQ(filesIn(photos, true), std::set<std::string>{});
        fs::remove_all(photos);
    }
}

// Runs with each camera program under each of its names: the program found
// on the PATH by its old name must serve as well as by its new one.
class EveryCamera : public Picseries,
                    public ::testing::WithParamInterface<std::tuple<Camera, std::string>> {};

TEST_P(EveryCamera, TwoRunsLeaveTwoPictures)
{
    const auto &[camera, name] = GetParam();
    // The program under the name asked for, in a folder ahead of its own.
    const fs::path named = logs.path() / "named";
    fs::create_directory(named);
    fs::create_symlink(fs::path(camera.folder) / "rpicam-still", named / name);
    const std::string path = named.string() + ":" + camera.folder;
    fs::create_directory(work.path() / "photos");
    for (int run_ = 1; run_ <= 2; ++run_) {
        const Outcome outcome = run({"photos", "image"}, camera.env, path.c_str());
        ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
    }
    EXPECT_EQ(treeOf(work.path() / "photos"), (std::set<std::string>{"Pic_1.jpg", "Pic_2.jpg"}));
    for (const char *picture : {"Pic_1.jpg", "Pic_2.jpg"}) {
        SCOPED_TRACE(picture);
        const Decoded decoded = decodeJpeg(work.path() / "photos" / picture);
        EXPECT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.width, 1024U);
        EXPECT_EQ(decoded.height, 768U);
        EXPECT_EQ(decoded.components, 3);
        EXPECT_FALSE(decoded.progressive);
    }
}

std::string nameOf(const ::testing::TestParamInfo<EveryCamera::ParamType> &info)
{
    std::string name = std::get<1>(info.param);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(StandIn, EveryCamera,
                         ::testing::Combine(::testing::ValuesIn(standInCamera()),
                                            ::testing::Values("rpicam-still", "libcamera-still")),
                         nameOf);
INSTANTIATE_TEST_SUITE_P(RealCamera, EveryCamera,
                         ::testing::Combine(::testing::ValuesIn(realCamera()),
                                            ::testing::Values("rpicam-still", "libcamera-still")),
                         nameOf);

} // namespace
