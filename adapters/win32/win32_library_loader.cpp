#include "adapters/win32/win32_library_loader.h"

#include <windows.h>

namespace fwup {
namespace {

class Win32Library final : public LoadedLibrary {
public:
    explicit Win32Library(HMODULE module) : module_(module) {}
    ~Win32Library() override { FreeLibrary(module_); }
    Win32Library(const Win32Library&) = delete;
    Win32Library& operator=(const Win32Library&) = delete;

    ExportAddress find_export(const char* name) override {
        return reinterpret_cast<ExportAddress>(GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};

}  // namespace

std::unique_ptr<LoadedLibrary> Win32LibraryLoader::load(const std::string& path) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) return nullptr;
    return std::make_unique<Win32Library>(module);
}

}  // namespace fwup
