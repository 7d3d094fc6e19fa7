// picseries on SMB and NFS shares that a guest kernel mounts from servers on
// this machine, judged from the servers' side: what each run said, what its
// camera wrote, and what the shared folders hold. The rig runs every case
// first; see network-shares/cases.
#include "support/end_to_end.hpp"

#include <map>
#include <tuple>
#include <utility>

namespace {

// The words of the lines that the guest's cases printed for kind, mount and
// what.
std::vector<std::vector<std::string>> guestSaid(const std::string &kind, const std::string &mount,
                                                const std::string &what)
{
    std::vector<std::vector<std::string>> said;
    for (auto &w : casesSaid(networkSharesDirectory, mount, what)) {
        // A fault case's pictures carry the number of the run that wrote them.
        if (w.size() >= (kind == "wrote" ? 4U : 5U) && w[0] == kind) {
            said.push_back(std::move(w));
        }
    }
    return said;
}

struct Share {
    const char *mount;  // as the guest names it
    const char *server; // the folder that the server shares
};

void PrintTo(const Share &share, std::ostream *out)
{
    *out << share.mount;
}

class NetworkShare : public ::testing::TestWithParam<Share> {};

TEST_P(NetworkShare, KeepsTheSeriesWhole)
{
    const Share &share = GetParam();
    for (const std::string what : {"row", "once", "killed", "board"}) {
        SCOPED_TRACE(what);
        const bool killed = what == "killed";
        std::vector<std::string> statuses;
        for (const auto &run : guestSaid("run", share.mount, what)) {
            statuses.push_back(run[4]);
        }
        // The killed run, the first, ends as its shell reports 128 + SIGKILL;
        // two runs follow it.
        std::vector<std::string> expected(killed ? 3 : 2, "0");
        expected[0] = killed ? "137" : "0";
        EXPECT_EQ(statuses, expected);
        const fs::path dir = fs::path(networkSharesDirectory) / share.server / share.mount / what;
        std::set<std::string> written;
        for (const auto &picture : guestSaid("wrote", share.mount, what)) {
            EXPECT_TRUE(written.insert(picture[3]).second) << picture[3] << " written twice";
            const Decoded decoded = decodeJpeg(dir / picture[3]);
            EXPECT_TRUE(decoded.ok && decoded.width == 1024 && decoded.height == 768) << picture[3];
        }
        // No claim on a share is taken over: a killed run's stays empty, and
        // counts.
        const std::set<std::string> pictures =
            killed ? std::set<std::string>{"Pic_2.jpg", "Pic_3.jpg"}
                   : std::set<std::string>{"Pic_1.jpg", "Pic_2.jpg"};
        EXPECT_EQ(written, pictures);
        std::set<std::string> left = pictures;
        if (killed) {
            left.insert("Pic_1.jpg");
            EXPECT_EQ(fs::file_size(dir / "Pic_1.jpg"), 0U);
        }
        EXPECT_EQ(treeOf(dir), left);
    }
}

INSTANTIATE_TEST_SUITE_P(Mounts, NetworkShare,
                         ::testing::Values(Share{"cifs", "smb"}, Share{"cifs_nobrl", "smb"},
                                           Share{"cifs_nocache", "smb"}, Share{"nfs4", "nfs"},
                                           Share{"nfs3", "nfs"}, Share{"nfs3_nolock", "nfs"}),
                         [](const auto &share) { return std::string(share.param.mount); });

// Board A's camera waits with its claim made while the server restarts or A's
// network is down for longer than the protocol's time-out; then board B runs,
// unless A is alone; then A's camera goes on. Parameters: mount, case.
class NetworkFault : public ::testing::TestWithParam<std::tuple<std::string, std::string>> {};

TEST_P(NetworkFault, NeverGivesOneNameToTwoRuns)
{
    const auto &[mount, what] = GetParam();
    std::map<std::string, std::string> statuses; // by run: A's is 1, B's 2
    for (const auto &run : guestSaid("run", mount, what)) {
        statuses[run[3]] = run[4];
    }
    std::map<std::string, std::set<std::string>> wrote; // by run
    for (const auto &picture : guestSaid("wrote", mount, what)) {
        wrote[picture.at(4)].insert(picture[3]);
    }
    // A keeps the number it claimed, and B takes the next.
    std::map<std::string, std::string> expectedStatuses{{"1", "0"}, {"2", "0"}};
    std::map<std::string, std::set<std::string>> expectedWrote{{"1", {"Pic_1.jpg"}},
                                                               {"2", {"Pic_2.jpg"}}};
    if (what == "alone") {
        expectedStatuses.erase("2");
        expectedWrote.erase("2");
    }
    EXPECT_EQ(statuses, expectedStatuses);
    EXPECT_EQ(wrote, expectedWrote);
    const fs::path dir =
        fs::path(networkSharesDirectory) / (mount == "cifs" ? "smb" : "nfs") / mount / what;
    std::set<std::string> all;
    for (const auto &[run, names] : wrote) {
        for (const auto &name : names) {
            EXPECT_FALSE(!all.insert(name).second && statuses["1"] == "0" && statuses["2"] == "0")
                << name << " written by both runs, and both exited 0";
            const Decoded decoded = decodeJpeg(dir / name);
            EXPECT_TRUE(statuses[run] != "0" ||
                        (decoded.ok && decoded.width == 1024 && decoded.height == 768))
                << name << " of run " << run << ", which exited 0";
        }
    }
    EXPECT_EQ(treeOf(dir), all);
}

INSTANTIATE_TEST_SUITE_P(Faults, NetworkFault,
                         ::testing::Combine(::testing::Values("cifs", "nfs4", "nfs3"),
                                            ::testing::Values("restart", "down", "alone")),
                         [](const auto &fault) {
                             return std::get<0>(fault.param) + "_" + std::get<1>(fault.param);
                         });

TEST(NetworkShare, ReadOnlyShareGetsNothing)
{
    const auto runs = guestSaid("run", "ro", "readonly");
    ASSERT_EQ(runs.size(), 1U);
    EXPECT_EQ(runs[0][4], "73");
    EXPECT_EQ(treeOf(fs::path(networkSharesDirectory) / "smb-ro"), std::set<std::string>{});
}

} // namespace
