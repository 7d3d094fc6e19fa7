// picseries on a Debian 13 arm64 board under qemu, as it is deployed: the
// package's service and timer, their sandbox and its device rules, a camera
// that hangs, a power cut, and series on the card, in a home folder, on a USB
// drive and on a share that did not mount, judged from the boards' consoles
// and disks once they powered off. The rig runs the boards first; see
// board/rig.
#include "support/end_to_end.hpp"

#include <fstream>
#include <regex>
#include <sstream>

namespace {

const fs::path out(boardDirectory);

std::string contents(const fs::path &path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The last line of boot's console (the driver's "board: " lines and the
// journal it printed) that the expression finds, or "".
std::string found(const std::string &boot, const std::string &expression)
{
    std::istringstream console(contents(out / (boot + "-console.log")));
    std::string last;
    for (std::string line; std::getline(console, line);) {
        line = line.substr(0, line.find('\r'));
        last = std::regex_search(line, std::regex(expression)) ? line : last;
    }
    return last;
}

struct Line {
    const char *boot, *expression;
};

void PrintTo(const Line &line, std::ostream *stream)
{
    *stream << line.boot << " " << line.expression;
}

class Board : public ::testing::TestWithParam<Line> {};

TEST_P(Board, Says)
{
    EXPECT_NE(found(GetParam().boot, GetParam().expression), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Board,
    ::testing::Values(
        Line{"timer", "^board: camera: /usr/local/bin/rpicam-still, rpicam-apps build: "},
        Line{"timer", "^board: verify: exit 0, 0 lines$"},
        Line{"timer", "^board: security: exit 0$"},
        Line{"timer", "Overall exposure level for picseries@srv-photos.service: 0[.][0-9] SAFE"},
        Line{"timer", "^board: timer results: done done done( done)*$"},
        Line{"timer", "^board: hanging run: failed$"},
        Line{"timer", "picseries@srv-photos.service: Failed with result 'timeout'."},
        Line{"timer", "^board: processes left after the timeout: 0 0$"},
        Line{"timer", "^board: empty files left after the timeout: 0$"},
        Line{"timer", "^board: run exited 0$"}, Line{"after-cut", "^board: results: done( done)*$"},
        Line{"folders", "^board: results home-camera-photos: done done( done)*$"},
        Line{"folders", "^board: results media-usb-photos: done done( done)*$"},
        Line{"folders", "^board: results srv-nas-photos: dependency dependency( dependency)*$"},
        Line{"folders", "srv-nas.mount: Mount process exited"},
        Line{"folders", "Network is unreachable"},
        Line{"folders", "^board: folder inside the share: exit 73$"},
        Line{"folders", "^board: missing folder: failed 73$"},
        Line{"folders", "^board: probe: done 0$"},
        Line{"folders", "^board: probe: probe: /dev/video0: vivid$"},
        Line{"folders", "^board: probe: probe: /dev/media0: vivid$"},
        Line{"folders", "^board: probe: probe: /dev/fuse: Operation not permitted$"},
        Line{"folders", "^board: probe-private-devices: failed 1$"},
        Line{"folders", "^board: probe-no-video-rule: failed 1$"},
        Line{"folders",
             "^board: probe-no-video-rule: probe: /dev/video0: failed: Operation not permitted$"},
        Line{"folders", "^board: folder not writable: failed 73$"},
        Line{"folders", "^board: filtered run: 5 lines in the journal$"},
        Line{"folders", "^board: filtered run: Still capture image received$"},
        Line{"folders", "^board: unfiltered run: [0-9]{2,} lines in the journal$"},
        Line{"folders", "^board: failing run: ERROR: [*]+ failed to allocate capture buffers"},
        Line{"folders", "^board: failing run: picseries: rpicam-still: exited with status 255$"}));

// A series on a disk: its folder in the rig's output, the user who owns its
// pictures, and the driver's lines that tell how each of its runs ended.
struct Series {
    const char *folder, *owner;
    std::vector<Line> results;
};

void PrintTo(const Series &series, std::ostream *stream)
{
    *stream << series.folder;
}

class Pictures : public ::testing::TestWithParam<Series> {};

// Every run that exited 0 left a whole picture of the series' user, no
// number skipped and no empty file; the share's mount point got nothing.
TEST_P(Pictures, WholeAndOwned)
{
    std::string said;
    for (const Line &line : GetParam().results) {
        said += found(line.boot, line.expression) + " ";
    }
    const std::regex exitedZero("\\bdone\\b|run exited 0");
    const auto runs = std::distance(std::sregex_iterator(said.begin(), said.end(), exitedZero),
                                    std::sregex_iterator());
    std::set<std::string> names;
    std::string owners;
    for (long run = 1; run <= runs; ++run) {
        const std::string name = "Pic_" + std::to_string(run) + ".jpg";
        names.insert(name);
        owners += name + " " + GetParam().owner + "\n";
        const Decoded picture = decodeJpeg(out / GetParam().folder / name);
        EXPECT_TRUE(picture.ok && picture.width == 1024 && picture.height == 768) << name;
    }
    EXPECT_EQ(treeOf(out / GetParam().folder), names);
    EXPECT_EQ(contents(out / (std::string(GetParam().folder) + ".owners")), owners);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, Pictures,
    ::testing::Values(
        Series{"photos",
               "picseries",
               {{"timer", "^board: timer results: "},
                {"timer", "^board: run exited 0$"},
                {"after-cut", "^board: results: "}}},
        Series{"home-photos", "camera", {{"folders", "^board: results home-camera-photos: "}}},
        Series{"usb-photos", "picseries", {{"folders", "^board: results media-usb-photos: "}}},
        Series{"nas", "", {}}));

TEST(Board, TimerCardCleanAfterTheCut)
{
    EXPECT_EQ(contents(out / "fsck.status"), "0\n");
}

} // namespace
