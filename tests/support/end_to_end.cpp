#include "support/end_to_end.hpp"

#include <csetjmp>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::set<std::string> treeOf(const fs::path &dir)
{
    std::set<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(dir)) {
        names.insert(fs::relative(entry.path(), dir).string());
    }
    return names;
}

std::vector<std::vector<std::string>> casesSaid(const fs::path &dir, const std::string &mount,
                                                const std::string &what)
{
    std::vector<std::vector<std::string>> said;
    std::ifstream out(dir / "cases.out");
    for (std::string line; std::getline(out, line);) {
        std::istringstream words(line);
        std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
        if (w.size() >= 3 && w[1] == mount && w[2] == what) {
            said.push_back(std::move(w));
        }
    }
    return said;
}

bool noneLocked(const fs::path &dir)
{
    bool free = true;
    for (const auto &entry : fs::directory_iterator(dir)) {
        const int fd = open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        free = free && fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
        close(fd);
    }
    return free;
}

namespace {

struct DecodeError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void onDecodeError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<DecodeError *>(info->err)->jump, 1);
}

} // namespace

Decoded decodeJpeg(const fs::path &path)
{
    Decoded decoded;
    std::FILE *in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return decoded;
    }
    std::vector<JSAMPLE> row(1 << 16);
    jpeg_decompress_struct info{};
    DecodeError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = onDecodeError;
    if (setjmp(error.jump) == 0) {
        jpeg_create_decompress(&info);
        jpeg_stdio_src(&info, in);
        jpeg_read_header(&info, TRUE);
        jpeg_start_decompress(&info);
        decoded.width = info.output_width;
        decoded.height = info.output_height;
        decoded.components = info.output_components;
        decoded.progressive = info.progressive_mode != 0;
        while (info.output_scanline < info.output_height) {
            JSAMPROW rows[1] = {row.data()};
            jpeg_read_scanlines(&info, rows, 1);
        }
        jpeg_finish_decompress(&info);
        // libjpeg warns about corrupt data and goes on; count that as bad.
        decoded.ok = error.manager.num_warnings == 0;
    }
    jpeg_destroy_decompress(&info);
    std::fclose(in);
    return decoded;
}

std::vector<Camera> standInCamera()
{
    return {{"standIn", cameraDirectory, {}}};
}

namespace {

// Reads what the build script found that the real program needs: its
// libraries and the stand-in for the kernel's dma-heap.
std::vector<Camera> readRealCamera()
{
    if (*realCameraDirectory == '\0') {
        return {};
    }
    Camera real{"real", realCameraDirectory, {}};
    std::ifstream environment(fs::path(realCameraDirectory) / "environment");
    for (std::string line; std::getline(environment, line);) {
        real.env.push_back(line);
    }
    return {real};
}

} // namespace

const std::vector<Camera> &realCamera()
{
    static const std::vector<Camera> cameras = readRealCamera();
    return cameras;
}
