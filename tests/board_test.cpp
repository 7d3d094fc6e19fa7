// picseries on a Debian 13 arm64 board under qemu, as it is deployed: the
// manual page's service and timer, a camera that hangs, a power cut and a
// share that did not mount, judged from the boards' consoles and SD cards
// once they powered off. The rig runs the boards first; see board/rig.
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
    ::testing::Values(Line{"timer", "^board: verify: exit 0, 0 lines$"},
                      Line{"timer", "^board: timer results: done done done( done)*$"},
                      Line{"timer", "^board: hanging run: failed$"},
                      Line{"timer", "picseries.service: Failed with result 'timeout'."},
                      Line{"timer", "^board: processes left after the timeout: 0$"},
                      Line{"timer", "^board: empty files left after the timeout: 0$"},
                      Line{"timer", "^board: run exited 0$"},
                      Line{"after-cut", "^board: results: done( done)*$"},
                      Line{"share", "^board: results: dependency dependency( dependency)*$"},
                      Line{"share", "Dependency failed for picseries.service"},
                      Line{"share", "srv-photos.mount: Mount process exited"},
                      Line{"share", "Network is unreachable"},
                      Line{"share", "^board: folder inside the share: exit 73$"}));

// Every run that exited 0 (the timer's, the one after the hanging run, which
// gave its number back, and that the power cut followed, those after the cut)
// left a whole picture of the service's user, no number skipped, on a card
// that fsck finds clean; the share's mount point on the card got nothing.
TEST(Board, PicturesOnTheCards)
{
    EXPECT_EQ(contents(out / "fsck.status"), "0\n");
    const std::string said = found("timer", "^board: timer results: ") + " done " +
                             found("after-cut", "^board: results: ");
    const std::regex done("\\bdone\\b");
    std::set<std::string> names;
    std::string owners;
    for (auto run = std::sregex_iterator(said.begin(), said.end(), done);
         run != std::sregex_iterator(); ++run) {
        const std::string name = "Pic_" + std::to_string(names.size() + 1) + ".jpg";
        names.insert(name);
        owners += name + " camera\n";
        const Decoded picture = decodeJpeg(out / "photos" / name);
        EXPECT_TRUE(picture.ok && picture.width == 1024 && picture.height == 768) << name;
    }
    EXPECT_EQ(treeOf(out / "photos"), names);
    EXPECT_EQ(contents(out / "photos.owners"), owners);
    EXPECT_TRUE(fs::is_directory(out / "share-photos"));
    EXPECT_EQ(treeOf(out / "share-photos"), std::set<std::string>{});
}

} // namespace
