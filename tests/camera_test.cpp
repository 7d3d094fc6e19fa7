#include "capture.hpp"
#include "capture_internal.hpp"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {

struct CommandCase {
    std::string path;
    bool fits;
    std::string quoted; // what stands between the double quotes
};

TEST(FormatCameraCommand, QuotesThePathForTheShell)
{
    const CommandCase cases[] = {
        {"/srv/photos/Pic_4.jpg", true, "/srv/photos/Pic_4.jpg"},
        {"my photos/Pic_1.jpg", true, "my photos/Pic_1.jpg"},
        {"", true, ""},
        {"a$(touch x)b/Pic_1.jpg", true, "a\\$(touch x)b/Pic_1.jpg"},
        {"a`touch x`b/Pic_1.jpg", true, "a\\`touch x\\`b/Pic_1.jpg"},
        {"a\"b/Pic_1.jpg", true, "a\\\"b/Pic_1.jpg"},
        {"a\\b/Pic_1.jpg", true, "a\\\\b/Pic_1.jpg"},
        {"it's!*?~&;|<>\n/Pic_1.jpg", true, "it's!*?~&;|<>\n/Pic_1.jpg"},
        {"100%done/Pic_1.jpg", true, "100%%done/Pic_1.jpg"},
        {"a%sb%n%/Pic_1.jpg", true, "a%%sb%%n%%/Pic_1.jpg"},
        // The fixed parts take 47 of the 255 bytes.
        {std::string(208, 'p'), true, std::string(208, 'p')},
        {std::string(209, 'p'), false, ""},
        {std::string(206, 'p') + "$", true, std::string(206, 'p') + "\\$"},
        {std::string(207, 'p') + "$", false, ""},
        {std::string(206, 'p') + "%", true, std::string(206, 'p') + "%%"},
        {std::string(207, 'p') + "%", false, ""},
        {std::string(255, 'p'), false, ""},
    };
    const std::string front = "libcamera-still --width 1024 --height 768 -o \"";
    for (const CommandCase &c : cases) {
        SCOPED_TRACE(c.path.substr(0, 30) + " length " + std::to_string(c.path.size()));
        char command[textCapacity];
        ASSERT_EQ(formatCameraCommand(command, "libcamera-still", c.path.c_str()), c.fits);
        if (c.fits) {
            EXPECT_EQ(command, front + c.quoted + "\"");
        }
    }
}

TEST(FormatCameraCommand, IsThePlainFormatForPlainPaths)
{
    const char *path = "/srv/photos/Pic_4.jpg";
    for (const char *camera : cameraPrograms) {
        char plain[textCapacity];
        std::snprintf(plain, sizeof plain, "%s --width 1024 --height 768 -o \"%s\"", camera, path);
        char command[textCapacity];
        ASSERT_TRUE(formatCameraCommand(command, camera, path));
        EXPECT_STREQ(command, plain);
    }
}

} // namespace
