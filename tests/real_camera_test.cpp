// End to end with the real camera program, built from its sources and run on
// the software camera: where the stand-in could drift from what picseries
// relies on, the name that -o becomes, the file written, the exit statuses.
#include "support/end_to_end.hpp"

#include <algorithm>
#include <csignal>
#include <memory>

namespace {

// What stands around the runs of a case.
enum class Setup {
    plain,
    fullDisk,        // the directory is a tmpfs too small for a picture
    noCamera,        // the software camera has no configuration, so no camera
    noHeap,          // the program runs without the stand-in for the dma-heap
    killedInPreview, // a first run is killed with its camera during the preview
    twoAtOnce,       // two runs start together
};

struct RealCase {
    const char *what; // the test's name
    std::string base;
    Setup setup;
    int exitStatus;      // of every run of the last round
    int pictures;        // Pic_1.jpg and on, whole, the only new files
    std::string message; // picseries's own, after "picseries: ": the last line of standard error
};

void PrintTo(const RealCase &c, std::ostream *out)
{
    *out << c.what;
}

const std::string longest(117, 'a');
const std::string tooLong(118, 'a');
const std::string exited = "rpicam-still: exited with status 255";

const RealCase realCases[] = {
    {"percent", "100%done", Setup::plain, 0, 1, ""},
    {"string_conversion", "a%sb", Setup::plain, 0, 1, ""},
    {"doubled_percent", "p%%q", Setup::plain, 0, 1, ""},
    {"number_conversion", "n%dm", Setup::plain, 0, 1, ""},
    {"path_of_127_bytes", longest, Setup::plain, 0, 1, ""},
    {"path_of_128_bytes", tooLong, Setup::plain, 73, 0,
     "cannot create " + tooLong + "/Pic_1.jpg: File name too long"},
    {"full_disk", "photos", Setup::fullDisk, 69, 0,
     "rpicam-still: wrote a cut-off picture to photos/Pic_1.jpg"},
    {"no_camera", "photos", Setup::noCamera, 69, 0, exited},
    {"no_dma_heap", "photos", Setup::noHeap, 69, 0, exited},
    {"killed_in_the_preview", "photos", Setup::killedInPreview, 0, 1, ""},
    // The software camera serves two processes at once, where a sensor would
    // fail one of them with 69.
    {"two_at_once", "photos", Setup::twoAtOnce, 0, 2, ""},
};

// The last line of text, without its line feed.
std::string lastLine(std::string text)
{
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text.substr(text.rfind('\n') + 1);
}

// The words that run a command in a mount namespace of its own, once mount
// has run there with the words given.
std::vector<std::string> afterMounting(const std::vector<std::string> &words)
{
    std::string script = "/bin/mount";
    for (const std::string &word : words) {
        // The test's own paths, which hold no single quote.
        script += " '" + word + "'";
    }
    return {"/usr/bin/unshare", "--mount", "/bin/sh", "-c", script + " && exec \"$@\"", "sh"};
}

class RealCamera : public Picseries, public ::testing::WithParamInterface<RealCase> {
  protected:
    // Runs picseries on the case's directory with the real program alone as
    // the camera on the PATH, in front of the words given.
    Started start(const std::vector<std::string> &front, const std::vector<std::string> &env)
    {
        auto [argv, environment] = command({GetParam().base, "image"}, env, camera.folder.c_str());
        argv.insert(argv.begin(), front.begin(), front.end());
        captures.push_back(std::make_unique<TempDir>());
        return startProgram(argv, environment, work.path(), captures.back()->path());
    }

    const Camera &camera = realCamera().at(0);
    std::vector<std::unique_ptr<TempDir>> captures;
};

TEST_P(RealCamera, ActsAsTheStandInDoes)
{
    const RealCase &c = GetParam();
    const fs::path base = work.path() / c.base;
    fs::create_directory(base);
    const std::set<std::string> before = treeOf(work.path());
    const TempDir empty;
    std::vector<std::string> front;
    std::vector<std::string> env = camera.env;
    if (c.setup == Setup::fullDisk) {
        front = afterMounting({"-t", "tmpfs", "-o", "size=32k", "tmpfs", base});
    } else if (c.setup == Setup::noCamera) {
        front = afterMounting({"--bind", empty.path(), camera.folder + "/virtual"});
    } else if (c.setup == Setup::noHeap) {
        env.erase(
            std::remove_if(env.begin(), env.end(),
                           [](const std::string &e) { return e.rfind("LD_PRELOAD=", 0) == 0; }),
            env.end());
    } else if (c.setup == Setup::killedInPreview) {
        const Outcome killed = finishProgram(start({"/usr/bin/timeout", "-s", "KILL", "2"}, env));
        EXPECT_TRUE(killed.signal == SIGKILL || killed.exitStatus == 128 + SIGKILL);
        // The claim stays, empty, until the last of the run's processes ends.
        ASSERT_TRUE(waitFor([&] { return noneLocked(base); }));
        EXPECT_EQ(fs::file_size(base / "Pic_1.jpg"), 0U);
    }
    std::vector<Started> runs = {start(front, env)};
    if (c.setup == Setup::twoAtOnce) {
        runs.push_back(start(front, env));
    }
    for (const Started &run : runs) {
        const Outcome outcome = finishProgram(run);
        EXPECT_EQ(outcome.exitStatus, c.exitStatus) << lastLine(outcome.err);
        if (!c.message.empty()) {
            EXPECT_EQ(lastLine(outcome.err), "picseries: " + c.message);
            // What the camera printed, where it ran, comes first.
            EXPECT_EQ(outcome.err == "picseries: " + c.message + "\n", c.exitStatus != 69);
        }
    }
    std::set<std::string> expected = before;
    for (int n = 1; n <= c.pictures; ++n) {
        const std::string picture = c.base + "/Pic_" + std::to_string(n) + ".jpg";
        SCOPED_TRACE(picture);
        expected.insert(picture);
        const Decoded decoded = decodeJpeg(work.path() / picture);
        EXPECT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.width, 1024U);
        EXPECT_EQ(decoded.height, 768U);
    }
    EXPECT_EQ(treeOf(work.path()), expected);
}

// None where the build made no real camera program.
INSTANTIATE_TEST_SUITE_P(RealCamera, RealCamera,
                         ::testing::ValuesIn(realCamera().empty()
                                                 ? std::vector<RealCase>{}
                                                 : std::vector<RealCase>(std::begin(realCases),
                                                                         std::end(realCases))),
                         [](const auto &param) { return std::string(param.param.what); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealCamera);

} // namespace
