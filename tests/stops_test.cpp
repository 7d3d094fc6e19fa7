// picseries stopped from outside while its camera runs, in a folder of this
// machine and on the shares that the rigs mount: each case of support/stops
// must leave nothing but what a killed picseries leaves, and no camera.
#include "support/end_to_end.hpp"

#include <fstream>

namespace {

struct Stop {
    const char *place;
    const char *what;
    const char *status; // what the caller saw
    const char *left;   // the files after the stop, "=0" after an empty one
    const char *after;  // the files after the next run
};

void PrintTo(const Stop &s, std::ostream *out)
{
    *out << s.place << ' ' << s.what;
}

// Where the stops script's output for place lies: run here once for this
// machine's folder, from the rigs for the shares.
fs::path outputFor(const std::string &place)
{
    if (place == "sshfs") {
        return fuseSharesDirectory;
    }
    if (place != "local") {
        return networkSharesDirectory;
    }
    static TempDir here;
    if (!fs::exists(here.path() / "cases.out")) {
        // Under an emulator, picseries is a script that hands it on.
        const fs::path bin = here.path() / "bin";
        fs::create_directory(bin);
        std::string runner;
        for (const char *const *part = emulator; *part != nullptr; ++part) {
            runner += std::string(*part) + ' ';
        }
        std::ofstream(bin / "picseries")
            << "#!/bin/sh\nexec " << runner << picseriesPath << " \"$@\"\n";
        fs::permissions(bin / "picseries", fs::perms::owner_all);
        const Outcome o = runProgram(
            {"/bin/sh", "-c", "exec \"$0\" \"$1\" local >\"$1/cases.out\"", stopsScript,
             here.path()},
            {"PATH=" + bin.string() + ":" + cameraDirectory + ":/usr/bin:/bin"}, here.path());
        EXPECT_EQ(o.exitStatus, 0) << o.err;
    }
    return here.path();
}

class Stops : public ::testing::TestWithParam<Stop> {};

TEST_P(Stops, LeaveWhatAKilledRunLeaves)
{
    const Stop &s = GetParam();
    const fs::path out = outputFor(s.place);
    if (out.empty()) {
        GTEST_SKIP() << "no rig in this build";
    }
    const auto said = casesSaid(out, s.place, s.what);
    ASSERT_EQ(said.size(), 1U);
    // stop PLACE CASE STATUS LEFT CAMERAS NEXT AFTER
    EXPECT_EQ(said[0], (std::vector<std::string>{"stop", s.place, s.what, s.status, s.left, "0",
                                                 "0", s.after}));
}

// On shares, a claim that picseries killed by SIGKILL left stays and counts.
std::vector<Stop> casesAt(const char *place, bool takesOver)
{
    return {
        {place, "timelimit", "143", "-", "Pic_1.jpg"},
        {place, "term", "143", "-", "Pic_1.jpg"},
        {place, "kill9", "137", "Pic_1.jpg=0", takesOver ? "Pic_1.jpg" : "Pic_1.jpg=0,Pic_2.jpg"},
        {place, "hangup", "129", "-", "Pic_1.jpg"},
        {place, "ctrlc", "130", "-", "Pic_1.jpg"}};
}

std::string nameOf(const ::testing::TestParamInfo<Stop> &info)
{
    return std::string(info.param.place) + "_" + info.param.what;
}

INSTANTIATE_TEST_SUITE_P(Here, Stops, ::testing::ValuesIn(casesAt("local", true)), nameOf);
INSTANTIATE_TEST_SUITE_P(Sshfs, Stops, ::testing::ValuesIn(casesAt("sshfs", false)), nameOf);
INSTANTIATE_TEST_SUITE_P(Shares, Stops, ::testing::ValuesIn([] {
                             auto cases = casesAt("cifs", false);
                             const auto nfs = casesAt("nfs4", false);
                             cases.insert(cases.end(), nfs.begin(), nfs.end());
                             return cases;
                         }()),
                         nameOf);

} // namespace
