#include "app/binding/system_library_loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace fwup {
namespace {

#if defined(_WIN32)
class SystemLibrary final : public LoadedLibrary {
public:
    explicit SystemLibrary(HMODULE module) : module_(module) {}
    ~SystemLibrary() override { FreeLibrary(module_); }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    ExportAddress find_export(const char* name) override {
        return reinterpret_cast<ExportAddress>(GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};
#else
class SystemLibrary final : public LoadedLibrary {
public:
    explicit SystemLibrary(void* handle) : handle_(handle) {}
    ~SystemLibrary() override { dlclose(handle_); }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    ExportAddress find_export(const char* name) override {
        return reinterpret_cast<ExportAddress>(dlsym(handle_, name));
    }

private:
    void* handle_;
};
#endif

}  // namespace

std::unique_ptr<LoadedLibrary> SystemLibraryLoader::load(const std::string& path) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) return nullptr;
    return std::make_unique<SystemLibrary>(module);
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    return std::make_unique<SystemLibrary>(handle);
#endif
}

}  // namespace fwup
