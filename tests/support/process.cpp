#include "process.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

std::vector<char *> pointersTo(const std::vector<std::string> &texts)
{
    std::vector<char *> pointers;
    pointers.reserve(texts.size() + 1);
    for (const std::string &text : texts) {
        pointers.push_back(const_cast<char *>(text.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

void check(int error, const char *what)
{
    if (error != 0) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(error));
    }
}

} // namespace

Started startProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                     const std::filesystem::path &cwd, const std::filesystem::path &captureDir,
                     bool ownGroup)
{
    Started started;
    started.out = captureDir / "out";
    started.err = captureDir / "err";
    posix_spawn_file_actions_t actions;
    check(posix_spawn_file_actions_init(&actions), "posix_spawn_file_actions_init");
    check(posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0),
          "addopen");
    check(posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, started.out.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0644),
          "addopen");
    check(posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, started.err.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0644),
          "addopen");
    check(posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str()), "addchdir");
    posix_spawnattr_t attributes;
    check(posix_spawnattr_init(&attributes), "posix_spawnattr_init");
    if (ownGroup) {
        check(posix_spawnattr_setpgroup(&attributes, 0), "setpgroup");
        check(posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP), "setflags");
    }
    std::vector<char *> args = pointersTo(argv);
    std::vector<char *> envp = pointersTo(env);
    const int spawned =
        posix_spawn(&started.pid, args[0], &actions, &attributes, args.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    check(spawned, argv[0].c_str());
    return started;
}

Outcome finishProgram(const Started &started)
{
    int status = 0;
    while (waitpid(started.pid, &status, 0) < 0) {
        if (errno != EINTR) {
            check(errno, "waitpid");
        }
    }
    Outcome outcome;
    if (WIFEXITED(status)) {
        outcome.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    outcome.out = readFile(started.out);
    outcome.err = readFile(started.err);
    return outcome;
}

Outcome runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                   const std::filesystem::path &cwd)
{
    const TempDir capture;
    return finishProgram(startProgram(argv, env, cwd, capture.path()));
}

std::vector<std::string> environmentWithout(const std::vector<std::string> &drop)
{
    std::vector<std::string> env;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool dropped = false;
        for (const std::string &d : drop) {
            dropped = dropped || name == d;
        }
        if (!dropped) {
            env.push_back(text);
        }
    }
    return env;
}

std::vector<std::vector<std::string>> readCameraLog(const std::filesystem::path &log)
{
    const std::string text = readFile(log);
    std::vector<std::vector<std::string>> calls;
    std::size_t at = 0;
    // Each field ends in a zero byte: the count, then that many arguments.
    auto field = [&text, &at]() {
        const std::size_t end = text.find('\0', at);
        if (end == std::string::npos) {
            throw std::runtime_error("camera log cut short");
        }
        std::string value = text.substr(at, end - at);
        at = end + 1;
        return value;
    };
    while (at < text.size()) {
        const unsigned long count = std::stoul(field());
        std::vector<std::string> call;
        for (unsigned long i = 0; i < count; ++i) {
            call.push_back(field());
        }
        calls.push_back(call);
    }
    return calls;
}

void makeEntry(const std::filesystem::path &dir, const std::string &entry)
{
    const std::filesystem::path path = dir / entry.substr(2);
    switch (entry.at(0)) {
    case 'f':
        if (!(std::ofstream(path) << entry)) {
            throw std::runtime_error("cannot write " + path.string());
        }
        break;
    case 'd':
        std::filesystem::create_directory(path);
        break;
    case 'l':
        std::filesystem::create_symlink("target", path);
        break;
    case 'p':
        check(mkfifo(path.c_str(), 0644) == 0 ? 0 : errno, "mkfifo");
        break;
    default:
        throw std::invalid_argument("unknown kind of entry: " + entry);
    }
}

std::string readFile(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "picseries-test.XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) {
        check(errno, "mkdtemp");
    }
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}
