// picseries on FUSE file systems that boards mount for remote storage (sshfs
// mounted twice, as two boards; rclone in each cache mode; davfs2), judged
// from the servers' side once the rig has unmounted them and the uploads are
// done. The rig runs every case first; see fuse-shares/cases.
#include "support/end_to_end.hpp"

namespace {

using Names = std::multiset<std::string>;

struct Case {
    const char *fs;   // as the cases name the file system: its server's folder
    const char *what; // the case: its folder there
    Names statuses;   // the runs' exit statuses
    Names written;    // the pictures that the cameras wrote: none twice
    Names emptyLeft;  // the empty claims that killed runs left
};

void PrintTo(const Case &c, std::ostream *out)
{
    *out << c.fs << ' ' << c.what;
}

class FuseShare : public ::testing::TestWithParam<Case> {};

TEST_P(FuseShare, KeepsTheSeriesWhole)
{
    const Case &c = GetParam();
    const fs::path out(fuseSharesDirectory);
    Names statuses;
    Names written;
    for (const auto &w : casesSaid(out, c.fs, c.what)) {
        if (w.size() >= 4) {
            (w[0] == "run" ? statuses : written).insert(w.back());
        }
    }
    EXPECT_EQ(statuses, c.statuses);
    EXPECT_EQ(written, c.written);
    const fs::path dir = out / c.fs / c.what;
    const auto started = fs::last_write_time(out / "started");
    for (const auto &name : c.written) {
        const Decoded decoded = decodeJpeg(dir / name);
        EXPECT_TRUE(decoded.ok && decoded.width == 1024 && decoded.height == 768) << name;
        // Dated when it was taken, or uploaded: never the claim's old mark.
        std::error_code error;
        EXPECT_GE(fs::last_write_time(dir / name, error), started) << name << error.message();
    }
    std::set<std::string> left(c.written.begin(), c.written.end());
    for (const auto &name : c.emptyLeft) {
        EXPECT_EQ(fs::file_size(dir / name), 0U) << name;
        left.insert(name);
    }
    EXPECT_EQ(treeOf(dir), left);
}

const Names zeros{"0", "0"};
const Names two{"Pic_1.jpg", "Pic_2.jpg"};

INSTANTIATE_TEST_SUITE_P(
    Mounts, FuseShare,
    ::testing::Values(
        Case{"sshfs", "board", zeros, two, {}},
        Case{"sshfs", "killed", {"137", "0", "0"}, {"Pic_2.jpg", "Pic_3.jpg"}, {"Pic_1.jpg"}},
        Case{"sshfs", "once1", zeros, two, {}}, Case{"sshfs", "once2", zeros, two, {}},
        Case{"sshfs", "once3", zeros, two, {}}, Case{"sshfs", "once4", zeros, two, {}},
        Case{"sshfs", "once5", zeros, two, {}}, Case{"rclone_off", "row", zeros, two, {}},
        Case{"rclone_minimal", "row", zeros, two, {}}, Case{"rclone_writes", "row", zeros, two, {}},
        Case{"rclone_full", "row", zeros, two, {}}, Case{"davfs2", "row", zeros, two, {}}),
    [](const auto &c) { return std::string(c.param.fs) + "_" + c.param.what; });

} // namespace
