#include "adapters/linux/installed_library.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace fwup {

InstalledLibraryLoader::InstalledLibraryLoader(LibraryLoader& system, std::string installed_path)
    : system_(system), installed_path_(std::move(installed_path)) {}

std::unique_ptr<LoadedLibrary> InstalledLibraryLoader::load(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 || installed_path_.empty()) return system_.load(path);
    return system_.load(installed_path_);
}

std::string installed_library_path() {
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return {};
    std::string executable(buffer.data(), static_cast<std::size_t>(length));
    const auto slash = executable.rfind('/');
    if (slash == std::string::npos) return {};
    return executable.substr(0, slash + 1) + FWUP_LIBDIR_FROM_BINDIR "/" FWUP_VELTPORT_SONAME;
}

}  // namespace fwup
