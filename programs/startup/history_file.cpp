#include "programs/startup/history_file.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "system/files/unique_descriptor.h"
#endif

#include <array>

namespace fwup::startup {

#if defined(_WIN32)

// The Windows programs write no files: no history is kept there.
std::string history_path() { return {}; }
std::string append_history_line(const std::string&, const std::string&) { return "no history is kept on Windows"; }
bool read_history_file(const std::string&, std::string&, std::string& problem) {
    problem = "no history is kept on Windows";
    return false;
}
std::string utc_now() { return {}; }

#else

namespace {

// Creates every missing folder of `folder`, private to the user as state
// folders are. False with errno set when one cannot be made.
bool make_folders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return false;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

}  // namespace

std::string history_path() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/fwupgrade/history.jsonl";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/fwupgrade/history.jsonl";
    return {};
}

std::string append_history_line(const std::string& path, const std::string& line) {
    if (path.empty()) return "no folder for the history (HOME is not set)";
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!folder.empty() && !make_folders(folder)) return folder + ": " + std::strerror(errno);
    const UniqueDescriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
    if (file.get() < 0) return path + ": " + std::strerror(errno);
    // One write per line: appends of several programs land whole, one after another.
    const ssize_t written = ::write(file.get(), line.data(), line.size());
    if (written < 0) return path + ": " + std::strerror(errno);
    if (static_cast<std::size_t>(written) != line.size()) return path + ": the line was written only in part";
    return {};
}

bool read_history_file(const std::string& path, std::string& text, std::string& problem) {
    text.clear();
    if (path.empty()) {
        problem = "no folder for the history (HOME is not set)";
        return false;
    }
    const UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        if (errno == ENOENT) return true;
        problem = path + ": " + std::strerror(errno);
        return false;
    }
    std::array<char, 65536> chunk{};
    for (;;) {
        const ssize_t n = ::read(file.get(), chunk.data(), chunk.size());
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            problem = path + ": " + std::strerror(errno);
            return false;
        }
        text.append(chunk.data(), static_cast<std::size_t>(n));
    }
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (::gmtime_r(&now, &parts) == nullptr) return {};
    std::array<char, 32> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    return std::string(text.data(), length);
}

#endif

}  // namespace fwup::startup
