#include "programs/startup/machine.h"

#include <cstdlib>
#include <filesystem>

#include "sim/machine/virtual_machine.h"

#if defined(_WIN32)
#include "adapters/win32/win32_system.h"
#elif defined(__linux__)
#include "adapters/linux/linux_system.h"
#endif

namespace fwup::startup {

namespace {

#if defined(_WIN32)
using PlatformSystem = Win32System;
#elif defined(__linux__)
using PlatformSystem = LinuxSystem;
#endif

#if defined(_WIN32) || defined(__linux__)
class RealMachine final : public Machine {
public:
    OsVersionSource& os_version() override { return system_.os_version(); }
    DialogServices services() override { return system_.services(); }

private:
    PlatformSystem system_;
};
#endif

class SimulatedMachine final : public Machine {
public:
    SimulatedMachine(std::unique_ptr<sim::VirtualMachine> machine, std::string name)
        : machine_(std::move(machine)), name_(std::move(name)) {}

    OsVersionSource& os_version() override { return machine_->os_version(); }
    DialogServices services() override {
        DialogServices services{machine_->parallel_ports(), machine_->image_files(), machine_->clock(),
                                machine_->library_loader()};
        services.virtual_machine = name_;
        return services;
    }
    sim::VirtualMachine* virtual_machine() override { return machine_.get(); }

private:
    std::unique_ptr<sim::VirtualMachine> machine_;
    std::string name_;
};

}  // namespace

std::unique_ptr<Machine> Machine::real() {
#if defined(_WIN32) || defined(__linux__)
    return std::make_unique<RealMachine>();
#else
    return nullptr;
#endif
}

std::unique_ptr<Machine> Machine::from_file(const std::string& file, std::string& error) {
    std::unique_ptr<sim::VirtualMachine> machine = sim::load_virtual_machine(file, error);
    if (!machine) return nullptr;
    return std::make_unique<SimulatedMachine>(std::move(machine), std::filesystem::path(file).filename().string());
}

std::unique_ptr<Machine> Machine::from_environment(std::string& error) {
    const char* file = std::getenv(kVirtualPrinterVariable);
    if (file != nullptr && *file != '\0') return from_file(file, error);
    std::unique_ptr<Machine> machine = real();
    if (!machine) error = "this build has no adapters for real printers on this system";
    return machine;
}

std::string Machine::recording_problem() {
    const sim::VirtualMachine* machine = virtual_machine();
    return machine == nullptr ? std::string() : machine->recording_problem();
}

void Machine::run_program(const UpgradeApp::RunDialog& run_dialog, const std::string& settings_file) {
    UpgradeApp app(AppEnvironment{os_version(), services(), settings_file});
    // No message loop follows the dialog: the program ends with it.
    static_cast<void>(app.init_instance(run_dialog));
}

}  // namespace fwup::startup
