#include "cli/real_system.h"

#if defined(_WIN32)
#include "app/win32/win32_system.h"
#elif defined(__linux__)
#include "app/linux/linux_system.h"
#endif

namespace fwup::cli {

namespace {

template <class System>
class PlatformSystem final : public RealSystem {
public:
    OsVersionSource& os_version() override { return system_.os_version(); }
    DialogServices services() override { return system_.services(); }

private:
    System system_;
};

}  // namespace

std::unique_ptr<RealSystem> make_real_system() {
#if defined(_WIN32)
    return std::make_unique<PlatformSystem<Win32System>>();
#elif defined(__linux__)
    return std::make_unique<PlatformSystem<LinuxSystem>>();
#else
    return nullptr;
#endif
}

}  // namespace fwup::cli
