// Scans that miss pictures: the listing is made to report every entry's type
// as unknown, or to end before it has shown any entry, as some file systems
// and read errors do. No picture may be overwritten then.
#include "capture.hpp"

#include "support/process.hpp"
#include "test_paths.hpp"

#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum class Listing { asItIs, typesUnknown, endsAtOnce };

Listing listing = Listing::asItIs;

} // namespace

// Stands in for the C library's readdir within this test program, so that
// the scan sees the listing that the test chooses.
extern "C" dirent *readdir(DIR *dir)
{
    using Readdir = dirent *(*)(DIR *);
    static const auto next = reinterpret_cast<Readdir>(dlsym(RTLD_NEXT, "readdir"));
    if (listing == Listing::endsAtOnce) {
        return nullptr;
    }
    dirent *entry = next(dir);
    if (entry != nullptr && listing == Listing::typesUnknown) {
        entry->d_type = DT_UNKNOWN;
    }
    return entry;
}

namespace {

struct BlindCase {
    const char *what;
    Listing listing;
    std::vector<std::string> entries;
    int highest;         // what the scan finds
    std::string picture; // what the capture takes
};

class BlindScan : public ::testing::Test {
  protected:
    void SetUp() override
    {
        const char *inherited = std::getenv("PATH");
        savedPath = inherited != nullptr ? inherited : "/bin";
        setenv("PATH", (std::string(cameraDirectory) + ":" + savedPath).c_str(), 1);
    }
    void TearDown() override
    {
        listing = Listing::asItIs;
        setenv("PATH", savedPath.c_str(), 1);
    }
    std::string savedPath;
};

TEST_F(BlindScan, OverwritesNoPicture)
{
    const BlindCase cases[] = {
        {"types unknown",
         Listing::typesUnknown,
         {"f Pic_1.jpg", "f Pic_2.jpg", "f Pic_3.jpg", "f target", "d Pic_30.jpg", "l Pic_40.jpg"},
         3,
         "Pic_4.jpg"},
        {"listing ends at once",
         Listing::endsAtOnce,
         {"f Pic_1.jpg", "f Pic_2.jpg", "f Pic_3.jpg"},
         0,
         "Pic_4.jpg"},
        {"listing ends at once, with a gap",
         Listing::endsAtOnce,
         {"f Pic_1.jpg", "f Pic_2.jpg", "f Pic_4.jpg"},
         0,
         "Pic_3.jpg"},
        {"listing ends at once, links and directories",
         Listing::endsAtOnce,
         {"f target", "d Pic_1.jpg", "l Pic_2.jpg"},
         0,
         "Pic_3.jpg"},
    };
    for (const BlindCase &c : cases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        for (const std::string &entry : c.entries) {
            makeEntry(dir.path(), entry);
        }
        listing = c.listing;
        EXPECT_EQ(findHighestPictureNumber(dir.path().c_str()), c.highest);

        const CaptureResult result = captureImage(dir.path().c_str());
        listing = Listing::asItIs;
        EXPECT_EQ(result.status, CaptureStatus::taken);
        EXPECT_EQ(fs::path(result.path), dir.path() / c.picture);
        EXPECT_GT(fs::file_size(dir.path() / c.picture), 0U);
        for (const std::string &entry : c.entries) {
            if (entry[0] == 'f') {
                // makeEntry wrote the entry's own text into it.
                EXPECT_EQ(readFile(dir.path() / entry.substr(2)), entry);
            }
        }
    }
}

} // namespace
