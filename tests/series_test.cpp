#include "capture.hpp"
#include "capture_internal.hpp"

#include "support/process.hpp"

#include <climits>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct NameCase {
    const char *name;
    bool counts;
    int number;
    bool beyondInt; // sscanf's behaviour is undefined there, so don't ask it
};

const NameCase nameCases[] = {
    {"Pic_1.jpg", true, 1, false},
    {"Pic_10.jpg", true, 10, false},
    {"Pic_007.jpg", true, 7, false},
    {"Pic_0.jpg", true, 0, false},
    {"Pic_-7.jpg", true, -7, false},
    {"Pic_+5.jpg", true, 5, false},
    {"Pic_ 5.jpg", true, 5, false},
    {"Pic_\t\n\v\f\r 5.jpg", true, 5, false},
    {"Pic_ -5.jpg", true, -5, false},
    {"Pic_12.png", true, 12, false},
    {"Pic_12.jpg.bak", true, 12, false},
    {"Pic_12", true, 12, false},
    {"Pic_12abc", true, 12, false},
    {"Pic_000000000000000000000000000042.jpg", true, 42, false},
    {"Pic_2147483647.jpg", true, INT_MAX, false},
    {"Pic_-2147483648.jpg", true, INT_MIN, false},
    {"Pic_2147483648.jpg", false, 0, true},
    {"Pic_-2147483649.jpg", false, 0, true},
    {"Pic_6442450943.jpg", false, 0, true},
    {"Pic_4294967297.jpg", false, 0, true},
    {"Pic_99999999999999999999999999.jpg", false, 0, true},
    {"pic_4.jpg", false, 0, false},
    {"Pic4.jpg", false, 0, false},
    {"Picture_4.jpg", false, 0, false},
    {"IMG_4.jpg", false, 0, false},
    {"PIC_4.jpg", false, 0, false},
    {" Pic_4.jpg", false, 0, false},
    {"Pic_.jpg", false, 0, false},
    {"Pic_", false, 0, false},
    {"Pic", false, 0, false},
    {"", false, 0, false},
    {"Pic_+.jpg", false, 0, false},
    {"Pic_-.jpg", false, 0, false},
    {"Pic_+-5.jpg", false, 0, false},
    {"Pic_--5.jpg", false, 0, false},
    {"Pic_+ 5.jpg", false, 0, false},
    {"Pic_x5.jpg", false, 0, false},
    {"Pic_\xe9"
     "5.jpg",
     false, 0, false},
    {"Pic_\xa0"
     "5.jpg",
     false, 0, false},
    {"Pic_\x85"
     "5.jpg",
     false, 0, false},
    {"Pic_5\xff.jpg", true, 5, false},
};

TEST(ReadPictureNumber, ReadsNamesAsThePatternDoes)
{
    for (const NameCase &c : nameCases) {
        SCOPED_TRACE(c.name);
        int number = -12345;
        ASSERT_EQ(readPictureNumber(c.name, number), c.counts);
        if (c.counts) {
            EXPECT_EQ(number, c.number);
        }
        if (!c.beyondInt) {
            int scanned = 0;
            const bool scanCounts = std::sscanf(c.name, "Pic_%d.jpg", &scanned) == 1;
            EXPECT_EQ(scanCounts, c.counts) << "differs from sscanf";
            if (scanCounts && c.counts) {
                EXPECT_EQ(scanned, number) << "differs from sscanf";
            }
        }
    }
}

// Entries to create, as makeEntry takes them.
struct DirectoryCase {
    const char *what;
    std::vector<std::string> entries;
    int highest;
};

const DirectoryCase directoryCases[] = {
    {"empty", {}, 0},
    {"by value", {"f Pic_1.jpg", "f Pic_2.jpg", "f Pic_10.jpg", "f notes.txt", "d photos"}, 10},
    {"nine and ten", {"f Pic_9.jpg", "f Pic_10.jpg"}, 10},
    {"gaps stay", {"f Pic_1.jpg", "f Pic_5.jpg"}, 5},
    {"not regular", {"f target", "d Pic_30.jpg", "l Pic_40.jpg", "p Pic_50.jpg", "f Pic_3.jpg"}, 3},
    {"other names", {"f pic_4.jpg", "f Pic4.jpg", "f Picture_4.jpg", "f IMG_4.jpg"}, 0},
    {"zero and below", {"f Pic_0.jpg", "f Pic_-7.jpg"}, 0},
    {"leading zeros", {"f Pic_007.jpg"}, 7},
    {"other endings", {"f Pic_12.png", "f Pic_3.jpg"}, 12},
    {"beyond 32 bits", {"f Pic_6442450943.jpg", "f Pic_5.jpg"}, 5},
    {"largest", {"f Pic_2147483647.jpg", "f Pic_1.jpg"}, INT_MAX},
};

TEST(FindHighestPictureNumber, CountsRegularPictureFilesOnly)
{
    for (const DirectoryCase &c : directoryCases) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        for (const std::string &entry : c.entries) {
            makeEntry(dir.path(), entry);
        }
        EXPECT_EQ(findHighestPictureNumber(dir.path().c_str()), c.highest);
    }
}

TEST(FindHighestPictureNumber, GivesZeroForWhatCannotBeListed)
{
    const TempDir dir;
    std::ofstream(dir.path() / "Pic_4.jpg") << "picture";
    const std::string cannotList[] = {
        (dir.path() / "missing").string(),
        (dir.path() / "Pic_4.jpg").string(),
        "",
    };
    for (const std::string &base : cannotList) {
        SCOPED_TRACE(base);
        EXPECT_EQ(findHighestPictureNumber(base.c_str()), 0);
    }
}

struct PathCase {
    std::string base;
    int number;
    bool fits;
    std::string path;
};

TEST(FormatPicturePath, JoinsThePlainText)
{
    const PathCase cases[] = {
        {"/srv/photos", 4, true, "/srv/photos/Pic_4.jpg"},
        {"photos/", 1, true, "photos//Pic_1.jpg"},
        {"", 1, true, "/Pic_1.jpg"},
        {"my photos", 11, true, "my photos/Pic_11.jpg"},
        {"a", INT_MAX, true, "a/Pic_2147483647.jpg"},
        // "/Pic_1.jpg" takes 10 of the 127 bytes that the camera takes.
        {std::string(117, 'a'), 1, true, std::string(117, 'a') + "/Pic_1.jpg"},
        {std::string(118, 'a'), 1, false, ""},
        {std::string(117, 'a'), 10, false, ""},
        {std::string(4000, 'a'), 1, false, ""},
    };
    for (const PathCase &c : cases) {
        SCOPED_TRACE(c.base.substr(0, 20) + " length " + std::to_string(c.base.size()));
        char path[textCapacity];
        ASSERT_EQ(formatPicturePath(path, c.base.c_str(), c.number), c.fits);
        if (c.fits) {
            EXPECT_EQ(path, c.path);
        }
    }
}

} // namespace
