// picseries stopped from outside while its camera waits (support/stops): each
// case must leave what a killed picseries leaves and no camera, here and,
// where the rigs run, on sshfs, SMB and NFS 4.2, and on ext4, vfat and exfat
// under the guest's kernel.
#include "support/end_to_end.hpp"

namespace {

struct Stop {
    const char *place, *what;
    const char *status, *left, *after; // what the caller saw; the files then and after the next run
};

class Stops : public ::testing::TestWithParam<Stop> {};

TEST_P(Stops, LeaveWhatAKilledRunLeaves)
{
    const Stop &s = GetParam();
    const std::string place = s.place;
    const fs::path out = place == "local"   ? stopsDirectory
                         : place == "sshfs" ? fuseSharesDirectory
                                            : networkSharesDirectory;
    if (out.empty()) {
        GTEST_SKIP() << "no rig in this build";
    }
    // stop PLACE CASE STATUS LEFT CAMERAS NEXT AFTER, "=0" after an empty file
    EXPECT_EQ(casesSaid(out, s.place, s.what),
              (std::vector<std::vector<std::string>>{
                  {"stop", s.place, s.what, s.status, s.left, "0", "0", s.after}}));
}

// Only this machine's file systems take over what SIGKILL left.
std::vector<Stop> casesAt(std::initializer_list<const char *> places, bool takesOver)
{
    std::vector<Stop> cases;
    for (const char *p : places) {
        cases.insert(cases.end(), {{p, "timelimit", "143", "-", "Pic_1.jpg"},
                                   {p, "term", "143", "-", "Pic_1.jpg"},
                                   {p, "kill9", "137", "Pic_1.jpg=0",
                                    takesOver ? "Pic_1.jpg" : "Pic_1.jpg=0,Pic_2.jpg"},
                                   {p, "hangup", "129", "-", "Pic_1.jpg"},
                                   {p, "ctrlc", "130", "-", "Pic_1.jpg"}});
    }
    return cases;
}

std::string nameOf(const ::testing::TestParamInfo<Stop> &info)
{
    return std::string(info.param.place) + "_" + info.param.what;
}

INSTANTIATE_TEST_SUITE_P(Here, Stops, ::testing::ValuesIn(casesAt({"local"}, true)), nameOf);
INSTANTIATE_TEST_SUITE_P(Sshfs, Stops, ::testing::ValuesIn(casesAt({"sshfs"}, false)), nameOf);
INSTANTIATE_TEST_SUITE_P(Shares, Stops, ::testing::ValuesIn(casesAt({"cifs", "nfs4"}, false)),
                         nameOf);
INSTANTIATE_TEST_SUITE_P(Drives, Stops,
                         ::testing::ValuesIn(casesAt({"ext4", "vfat", "exfat"}, true)), nameOf);

} // namespace
