// Stand-in for the camera stack's still-capture program, for tests and demos
// on machines without a camera, to be installed as rpicam-still or under its
// old name, libcamera-still. It takes "--width W --height H -o PATH", in any
// order, and writes a W x H baseline JPEG test pattern to PATH.
//
// As the real program does, it reads PATH as a printf format given the frame
// number 0, forms the name in 128 bytes and silently cuts a longer one, and
// writes the picture in place, truncating any file of that name. Only %% and
// %d are taken; any other conversion fails, where the real program's
// behaviour is undefined.
//
// Tests steer it through its environment, which only the stand-in reads:
//   CAMERA_STANDIN_LOG       append this call's arguments to that file: the
//                            count in decimal, then each argument, every one
//                            ended by a zero byte
//   CAMERA_STANDIN_OPEN_FIRST  open PATH for writing, truncating it, before
//                            anything below, then append PATH to that file,
//                            ended by a zero byte
//   CAMERA_STANDIN_DELAY_MS  wait that many milliseconds first
//   CAMERA_STANDIN_WAIT_FOR  then wait until a file of that name exists
//   CAMERA_STANDIN_EXIT      exit with that status, writing nothing
//   CAMERA_STANDIN_SIGNAL    kill itself with that signal, writing nothing
//   CAMERA_STANDIN_SILENT    exit 0, writing nothing
//   CAMERA_STANDIN_EXIT_AFTER_WRITE  write the picture, then exit with that
//                            status
//   CAMERA_STANDIN_WRITTEN_LOG  once the picture is written, append its path
//                            to that file, ended by a zero byte
//   CAMERA_STANDIN_KEEP_TIMES  give the file the times it had before it was
//                            written, as some FUSE file systems do
//   CAMERA_STANDIN_CUT_OFF   keep only that many bytes of the picture and still
//                            exit 0, as the real program does on a full disk
//   CAMERA_STANDIN_BYTES     write these bytes, given as pairs of hexadecimal
//                            digits, in place of the picture, and exit 0
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <jpeglib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int usageStatus = 2;
constexpr int failureStatus = 1;

// The name this stand-in was called by, for its messages.
const char *programName = "rpicam-still";

// The real program's buffer for the output name, terminating zero included.
constexpr std::size_t nameCapacity = 128;

// Reads a whole decimal number in [low, high] from text; returns whether it
// was one.
bool readNumber(const char *text, long low, long high, long &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

// Reads the environment variable name as a number in [low, high]; returns
// whether it is set to one.
bool readSetting(const char *name, long low, long high, long &value)
{
    const char *text = std::getenv(name);
    return text != nullptr && readNumber(text, low, high, value);
}

// Appends record to the log file in one write, so that concurrent calls do
// not interleave; returns whether it worked.
bool appendRecord(const char *logPath, const std::string &record)
{
    const int fd = open(logPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    const ssize_t written = write(fd, record.data(), record.size());
    return close(fd) == 0 && written == static_cast<ssize_t>(record.size());
}

// Appends this call's arguments to the log file; returns whether it worked.
bool logArguments(const char *logPath, int argc, char **argv)
{
    std::string record = std::to_string(argc - 1);
    record.push_back('\0');
    for (int i = 1; i < argc; ++i) {
        record.append(argv[i]);
        record.push_back('\0');
    }
    return appendRecord(logPath, record);
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onJpegError(j_common_ptr info)
{
    auto *error = reinterpret_cast<JpegError *>(info->err);
    info->err->format_message(info, error->message);
    std::longjmp(error->jump, 1);
}

// Colour bars across the picture, darkening towards the bottom.
void fillRow(std::vector<JSAMPLE> &row, long width, long y, long height)
{
    static constexpr unsigned char bars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255},
                                                 {0, 255, 0},     {255, 0, 255}, {255, 0, 0},
                                                 {0, 0, 255},     {0, 0, 0}};
    const long shade = 255 - (y * 191) / height;
    for (long x = 0; x < width; ++x) {
        const unsigned char *bar = bars[(x * 8) / width];
        for (long c = 0; c < 3; ++c) {
            row[static_cast<std::size_t>(x * 3 + c)] = static_cast<JSAMPLE>(bar[c] * shade / 255);
        }
    }
}

// Writes the test pattern as a baseline JPEG to out; returns an error
// message, or nullptr when it worked.
const char *writePicture(std::FILE *out, long width, long height, JpegError &error)
{
    // Allocated before setjmp, so that a longjmp skips no destructor.
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    jpeg_compress_struct info{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = onJpegError;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_compress(&info);
        return error.message;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        fillRow(row, width, info.next_scanline, height);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return nullptr;
}

// Writes the bytes that hex spells, two hexadecimal digits each, to out;
// returns an error message, or nullptr when it worked.
const char *writeBytes(std::FILE *out, const char *hex)
{
    for (const char *p = hex; *p != '\0'; p += 2) {
        const char pair[3] = {p[0], p[1], '\0'};
        if (std::isxdigit(static_cast<unsigned char>(pair[0])) == 0 ||
            std::isxdigit(static_cast<unsigned char>(pair[1])) == 0) {
            return "CAMERA_STANDIN_BYTES takes pairs of hexadecimal digits";
        }
        std::fputc(static_cast<int>(std::strtol(pair, nullptr, 16)), out);
    }
    return nullptr;
}

int usage(const char *problem, const char *argument)
{
    std::fprintf(stderr, "%s (stand-in): %s%s\n", programName, problem, argument);
    std::fprintf(stderr, "usage: %s --width W --height H -o PATH\n", programName);
    return usageStatus;
}

// Forms the output name from format as the real program's snprintf does for
// frame 0, cut to the capacity of name; returns false on a conversion other
// than %% and %d.
bool formatOutputName(char (&name)[nameCapacity], const char *format)
{
    std::string formed;
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            formed.push_back(*p);
        } else if (p[1] == '%') {
            formed.push_back(*++p);
        } else if (p[1] == 'd') {
            formed.push_back('0');
            ++p;
        } else {
            return false;
        }
    }
    formed.resize(std::min(formed.size(), sizeof name - 1));
    std::memcpy(name, formed.c_str(), formed.size() + 1);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 0) {
        const char *slash = std::strrchr(argv[0], '/');
        programName = slash != nullptr ? slash + 1 : argv[0];
    }
    if (const char *logPath = std::getenv("CAMERA_STANDIN_LOG")) {
        if (!logArguments(logPath, argc, argv)) {
            std::fprintf(stderr, "%s (stand-in): cannot log to %s: %s\n", programName, logPath,
                         std::strerror(errno));
            return failureStatus;
        }
    }

    long width = 0;
    long height = 0;
    const char *output = nullptr;
    for (int i = 1; i < argc; i += 2) {
        const char *option = argv[i];
        if (i + 1 >= argc) {
            return usage("missing value for ", option);
        }
        const char *value = argv[i + 1];
        if (std::strcmp(option, "--width") == 0) {
            if (!readNumber(value, 1, JPEG_MAX_DIMENSION, width)) {
                return usage("bad width ", value);
            }
        } else if (std::strcmp(option, "--height") == 0) {
            if (!readNumber(value, 1, JPEG_MAX_DIMENSION, height)) {
                return usage("bad height ", value);
            }
        } else if (std::strcmp(option, "-o") == 0) {
            output = value;
        } else {
            return usage("unknown option ", option);
        }
    }
    if (width == 0 || height == 0 || output == nullptr) {
        return usage("--width, --height and -o are all needed", "");
    }
    char name[nameCapacity];
    if (!formatOutputName(name, output)) {
        return usage("-o takes no conversion but %% and %d: ", output);
    }

    struct stat before {};
    const bool keepTimes =
        std::getenv("CAMERA_STANDIN_KEEP_TIMES") != nullptr && stat(name, &before) == 0;
    // In place, as the real program writes: the file that picseries claimed
    // becomes the picture, and any other file of that name is overwritten.
    int fd = -1;
    if (const char *openedLog = std::getenv("CAMERA_STANDIN_OPEN_FIRST")) {
        fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0 || !appendRecord(openedLog, std::string(name) + '\0')) {
            std::fprintf(stderr, "%s (stand-in): cannot open %s first: %s\n", programName, name,
                         std::strerror(errno));
            return failureStatus;
        }
    }

    long value = 0;
    if (readSetting("CAMERA_STANDIN_DELAY_MS", 0, 600000, value)) {
        const timespec pause{value / 1000, (value % 1000) * 1000000};
        nanosleep(&pause, nullptr);
    }
    if (const char *awaited = std::getenv("CAMERA_STANDIN_WAIT_FOR")) {
        const timespec pause{0, 10000000};
        struct stat st {};
        while (stat(awaited, &st) != 0) {
            nanosleep(&pause, nullptr);
        }
    }
    if (readSetting("CAMERA_STANDIN_EXIT", 0, 255, value)) {
        return static_cast<int>(value);
    }
    if (readSetting("CAMERA_STANDIN_SIGNAL", 1, 64, value)) {
        std::signal(static_cast<int>(value), SIG_DFL);
        std::raise(static_cast<int>(value));
    }
    if (std::getenv("CAMERA_STANDIN_SILENT") != nullptr) {
        return 0;
    }

    if (fd < 0) {
        fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    std::FILE *out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (out == nullptr) {
        std::fprintf(stderr, "%s (stand-in): cannot write %s: %s\n", programName, name,
                     std::strerror(errno));
        return failureStatus;
    }
    JpegError error{};
    const char *bytes = std::getenv("CAMERA_STANDIN_BYTES");
    const char *problem =
        bytes != nullptr ? writeBytes(out, bytes) : writePicture(out, width, height, error);
    if (std::fclose(out) != 0 && problem == nullptr) {
        problem = std::strerror(errno);
    }
    if (problem == nullptr && readSetting("CAMERA_STANDIN_CUT_OFF", 0, LONG_MAX, value) &&
        truncate(name, value) != 0) {
        problem = std::strerror(errno);
    }
    if (problem != nullptr) {
        std::fprintf(stderr, "%s (stand-in): cannot write %s: %s\n", programName, name, problem);
        return failureStatus;
    }
    if (keepTimes) {
        const timespec times[2] = {before.st_atim, before.st_mtim};
        utimensat(AT_FDCWD, name, times, 0);
    }
    const char *writtenLog = std::getenv("CAMERA_STANDIN_WRITTEN_LOG");
    if (writtenLog != nullptr && !appendRecord(writtenLog, std::string(name) + '\0')) {
        std::fprintf(stderr, "%s (stand-in): cannot log to %s: %s\n", programName, writtenLog,
                     std::strerror(errno));
        return failureStatus;
    }
    if (readSetting("CAMERA_STANDIN_EXIT_AFTER_WRITE", 0, 255, value)) {
        return static_cast<int>(value);
    }
    return 0;
}
