#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/files/input_file.h"

namespace fwup {

std::unique_ptr<InputFile> InputFile::open(const std::string& path, Sharing /*sharing*/) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return nullptr;
    }
    const Kind kind = S_ISREG(info.st_mode) ? Kind::Regular : S_ISDIR(info.st_mode) ? Kind::Directory : Kind::Other;
    const std::uint64_t size = kind == Kind::Regular ? static_cast<std::uint64_t>(info.st_size) : 0;
    return std::unique_ptr<InputFile>(new InputFile(fd, kind, size));
}

InputFile::~InputFile() { ::close(static_cast<int>(handle_)); }

bool InputFile::read(void* buffer, std::uint32_t capacity, std::uint32_t& got) {
    got = 0;
    ssize_t n = 0;
    do {
        n = ::read(static_cast<int>(handle_), buffer, capacity);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    got = static_cast<std::uint32_t>(n);
    return true;
}

}  // namespace fwup
