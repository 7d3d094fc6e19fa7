// Fuzzes the reading of a picture number from a file name against a plain
// reference of the rule: "Pic_", any white space that %d skips, an optional
// sign, at least one decimal digit, and a value that fits in int.
#include "capture_internal.hpp"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Expected {
    bool counts = false;
    long long number = 0;
    bool scanAgrees = false; // few enough digits for sscanf to read defined
};

// The rule, one character at a time, with nothing borrowed from the code
// under test; the value is read into a wider type and capped.
Expected reference(const std::string &name)
{
    Expected expected;
    if (name.compare(0, 4, "Pic_") != 0) {
        expected.scanAgrees = true;
        return expected;
    }
    std::size_t i = 4;
    while (i < name.size() && (name[i] == ' ' || name[i] == '\t' || name[i] == '\n' ||
                               name[i] == '\v' || name[i] == '\f' || name[i] == '\r')) {
        ++i;
    }
    bool negative = false;
    if (i < name.size() && (name[i] == '+' || name[i] == '-')) {
        negative = name[i] == '-';
        ++i;
    }
    long long value = 0;
    std::size_t significant = 0;
    const std::size_t first = i;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
        if (value != 0 || name[i] != '0') {
            ++significant;
        }
        if (value <= 10000000000LL) {
            value = value * 10 + (name[i] - '0');
        }
    }
    expected.scanAgrees = significant <= 9;
    if (i == first) {
        return expected;
    }
    value = negative ? -value : value;
    expected.counts = value >= INT_MIN && value <= INT_MAX;
    expected.number = value;
    return expected;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A file name holds no zero byte; the name ends at the first one.
    const std::string name(reinterpret_cast<const char *>(data), size);
    const std::string cut = name.substr(0, name.find('\0'));

    const Expected expected = reference(cut);
    int number = 0;
    const bool counts = readPictureNumber(cut.c_str(), number);
    if (counts != expected.counts || (counts && number != expected.number)) {
        std::fprintf(stderr, "readPictureNumber(\"%s\") gave %d (%d), reference %d (%lld)\n",
                     cut.c_str(), counts, number, expected.counts, expected.number);
        std::abort();
    }
    if (expected.scanAgrees) {
        int scanned = 0;
        const bool scanCounts = std::sscanf(cut.c_str(), "Pic_%d.jpg", &scanned) == 1;
        if (scanCounts != counts || (counts && scanned != number)) {
            std::fprintf(stderr, "readPictureNumber(\"%s\") differs from sscanf\n", cut.c_str());
            std::abort();
        }
    }
    return 0;
}
