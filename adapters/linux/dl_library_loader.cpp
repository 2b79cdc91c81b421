#include "adapters/linux/dl_library_loader.h"

#include <dlfcn.h>

namespace fwup {
namespace {

class DlLibrary final : public LoadedLibrary {
public:
    explicit DlLibrary(void* handle) : handle_(handle) {}
    ~DlLibrary() override { dlclose(handle_); }
    DlLibrary(const DlLibrary&) = delete;
    DlLibrary& operator=(const DlLibrary&) = delete;

    ExportAddress find_export(const char* name) override {
        return reinterpret_cast<ExportAddress>(dlsym(handle_, name));
    }

private:
    void* handle_;
};

}  // namespace

std::unique_ptr<LoadedLibrary> DlLibraryLoader::load(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    return std::make_unique<DlLibrary>(handle);
}

}  // namespace fwup
