#include "sim/machine/virtual_machine.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include "core/network/socket_printer.h"
#include "sim/net/net_printer_server.h"
#endif
#include "sim/clock/virtual_clock.h"
#include "sim/usb/usb_device_tree.h"
#include "core/transfer/std_image_files.h"
#include "usbport/exports/static_binding.h"
#include "veltport.h"

namespace fwup::sim {

namespace {

// The machine's clock when it runs in real time.
class SteadyClock final : public Clock {
public:
    void sleep_ms(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    std::uint32_t tick_ms() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        // Wraps like the system's 32-bit tick.
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
};

class FixedOsVersion final : public OsVersionSource {
public:
    explicit FixedOsVersion(OsVersion version) : version_(version) {}
    std::optional<OsVersion> query() override { return version_; }

private:
    OsVersion version_;
};

// Image files as the standard library opens them, counted while open.
class CountingImageFiles final : public ImageFiles {
public:
    std::unique_ptr<ImageFile> open(const std::string& path) override {
        std::unique_ptr<ImageFile> file = inner_.open(path);
        if (!file) return nullptr;
        return std::make_unique<Counted>(std::move(file), open_);
    }
    int open_files() const { return *open_; }

private:
    class Counted final : public ImageFile {
    public:
        Counted(std::unique_ptr<ImageFile> inner, std::shared_ptr<int> open) : inner_(std::move(inner)), open_(std::move(open)) {
            ++*open_;
        }
        ~Counted() override { --*open_; }
        Counted(const Counted&) = delete;
        Counted& operator=(const Counted&) = delete;
        std::uint64_t size() override { return inner_->size(); }
        bool read(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& got) override {
            return inner_->read(buf, capacity, got);
        }

    private:
        std::unique_ptr<ImageFile> inner_;
        std::shared_ptr<int> open_;
    };

    StdImageFiles inner_;
    std::shared_ptr<int> open_ = std::make_shared<int>(0);
};

// A file the machine writes what it sees to, through C stdio: the C++ file
// streams of the Windows runtime need functions that Windows 98 and 2000 lack.
struct Recording {
    struct Close {
        void operator()(std::FILE* stream) const noexcept { std::fclose(stream); }
    };
    std::unique_ptr<std::FILE, Close> file;
    std::string path;

    void write(const void* data, std::size_t length) const { std::fwrite(data, 1, length, file.get()); }
    // Flushes what is buffered; false when any write has failed.
    bool good() const { return std::fflush(file.get()) == 0 && std::ferror(file.get()) == 0; }
};

std::string hex_line(std::uint32_t ms, const std::vector<std::uint8_t>& bytes) {
    std::string line = std::to_string(ms);
    char hex[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned>(b));
        line += hex;
    }
    return line;
}

// A device path like the system gives a USB printer's interface.
std::string usb_path(const veltport::Guid& cls, std::size_t member, std::uint16_t vendor) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "\\\\?\\usb#vid_%04x&pid_0001#virtual%u#{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(vendor), static_cast<unsigned>(member + 1), static_cast<unsigned>(cls.data1),
                  static_cast<unsigned>(cls.data2), static_cast<unsigned>(cls.data3),
                  static_cast<unsigned>(cls.data4[0]), static_cast<unsigned>(cls.data4[1]),
                  static_cast<unsigned>(cls.data4[2]), static_cast<unsigned>(cls.data4[3]),
                  static_cast<unsigned>(cls.data4[4]), static_cast<unsigned>(cls.data4[5]),
                  static_cast<unsigned>(cls.data4[6]), static_cast<unsigned>(cls.data4[7]));
    return text;
}

// Which machine's device tree the process-wide library instance runs over.
const void* g_library_owner = nullptr;

}  // namespace

struct VirtualMachine::Impl {
    MachineConfig config;
    std::unique_ptr<Clock> clock;
    std::uint32_t start_tick = 0;
    FixedOsVersion os;
    VirtualLptPorts lpt;
    CountingImageFiles images;
    UsbDeviceTree usb;
    std::vector<std::shared_ptr<VirtualPrinter>> printers;
    std::vector<std::unique_ptr<Recording>> recordings;
#if !defined(_WIN32)
    // The network printers' ends, in the file's order among them. Declared
    // last: the serving threads stop before the printers they serve go.
    std::vector<std::unique_ptr<SocketPrinter>> network_printers;
    std::vector<std::unique_ptr<NetPrinterServer>> servers;
#endif

    class Loader final : public LibraryLoader {
    public:
        explicit Loader(Impl& machine) : machine_(machine) {}
        std::unique_ptr<LoadedLibrary> load(const std::string& path) override;

    private:
        Impl& machine_;
    };
    Loader loader{*this};

    Impl(const MachineConfig& c, std::unique_ptr<Clock> machine_clock)
        : config(c),
          clock(std::move(machine_clock)),
          start_tick(clock->tick_ms()),
          os(c.os),
          usb(*clock, veltport::OsVersionInfo{c.os.platform_id, c.os.major, c.os.minor}) {
        // A machine may carry an image of any size: its memory must not grow per block.
        usb.keep_call_log(false);
    }

    // The library instance must never run over a device tree that is gone.
    ~Impl() {
        if (g_library_owner != this) return;
        veltport::unbind_device_layer();
        g_library_owner = nullptr;
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
};

namespace {

// The USB port library as the machine offers it: the real library's exports,
// running over this machine's device tree while the library is loaded.
class StaticUsbLibrary final : public LoadedLibrary {
public:
    StaticUsbLibrary(const void* owner, bool complete) : owner_(owner), complete_(complete) {}
    ~StaticUsbLibrary() override {
        if (g_library_owner != owner_) return;  // its machine is gone and has unbound it
        veltport::unbind_device_layer();
        g_library_owner = nullptr;
    }
    StaticUsbLibrary(const StaticUsbLibrary&) = delete;
    StaticUsbLibrary& operator=(const StaticUsbLibrary&) = delete;

    ExportAddress find_export(const char* name) override {
        const std::string wanted = name == nullptr ? "" : name;
        // An incomplete library lacks the last export the program binds.
        if (wanted == "ReadFromUsbPort") return complete_ ? reinterpret_cast<ExportAddress>(&::ReadFromUsbPort) : nullptr;
        if (wanted == "WriteToUsbPort") return reinterpret_cast<ExportAddress>(&::WriteToUsbPort);
        if (wanted == "GetDeviceID") return reinterpret_cast<ExportAddress>(&::GetDeviceID);
        if (wanted == "GetModelName") return reinterpret_cast<ExportAddress>(&::GetModelName);
        if (wanted == "GetVendorID") return reinterpret_cast<ExportAddress>(&::GetVendorID);
        if (wanted == "GetControlPortName") return reinterpret_cast<ExportAddress>(&::GetControlPortName);
        if (wanted == "GetWritePortName") return reinterpret_cast<ExportAddress>(&::GetWritePortName);
        if (wanted == "GetReadPortName") return reinterpret_cast<ExportAddress>(&::GetReadPortName);
        return nullptr;
    }

private:
    const void* owner_;
    bool complete_;
};

}  // namespace

std::unique_ptr<LoadedLibrary> VirtualMachine::Impl::Loader::load(const std::string& /*path*/) {
    // The library is found wherever the program looks for it, unless the
    // machine has none; a second machine cannot share the one instance.
    if (machine_.config.library == LibraryPresence::Missing || g_library_owner != nullptr) return nullptr;
    g_library_owner = &machine_;
    veltport::bind_device_layer(machine_.usb);
    return std::make_unique<StaticUsbLibrary>(&machine_, machine_.config.library == LibraryPresence::Present);
}

VirtualMachine::VirtualMachine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VirtualMachine::~VirtualMachine() = default;

std::unique_ptr<VirtualMachine> VirtualMachine::create(const MachineConfig& config, std::string& error) {
    error.clear();
    std::unique_ptr<Clock> clock;
    if (config.clock == ClockKind::Virtual) {
        clock = std::make_unique<VirtualClock>();
    } else {
        clock = std::make_unique<SteadyClock>();
    }
    auto impl = std::make_unique<Impl>(config, std::move(clock));
    Impl& m = *impl;
    m.lpt.set_faults(config.lpt_faults);

    // A USB printer appears in the class its system's driver registers: the
    // maker's own on the 9x family, the system's USB printing class on NT
    // (NT 6 and later: through the system's own class driver).
    const veltport::Guid& usb_class = config.os.platform_id == OsVersion::kWindows9x ? veltport::CORVANE_USB_GUID
                                                                                     : veltport::MS_USBPRINT_GUID;
    std::size_t usb_members = 0;
    for (const PrinterSetup& setup : config.printers) {
        auto printer = std::make_shared<VirtualPrinter>(setup.printer);
        if (setup.network) {
#if defined(_WIN32)
            error = config.file.string() + ": [" + setup.section +
                    "] Port=\"NET\" is invalid: this build reaches no network printer";
            return nullptr;
#else
            // The program reaches it through its real network carrier, with
            // the ID the file gives in place of an SNMP agent's answer.
            std::unique_ptr<NetPrinterServer> server = NetPrinterServer::start(*printer);
            if (!server) {
                error = config.file.string() + ": [" + setup.section + "] no loopback port to serve it on";
                return nullptr;
            }
            VirtualPrinter* served = printer.get();
            NetPrinterServer* lock_owner = server.get();
            m.network_printers.push_back(std::make_unique<SocketPrinter>(
                "127.0.0.1", server->port(), [served, lock_owner]() -> std::optional<std::string> {
                    const auto held = lock_owner->lock();
                    return served->identify();
                }));
            m.servers.push_back(std::move(server));
#endif
        } else if (setup.lpt != 0) {
            m.lpt.attach(setup.lpt, printer.get());
        } else {
            UsbDevice& device = m.usb.add_printer(
                usb_class, usb_path(usb_class, usb_members++, setup.printer.vendor_id), printer);
            device.openable = setup.openable;
            // NT 6 and later drive it with the system's own class driver.
            device.class_driver = config.os.platform_id == OsVersion::kWindowsNt && config.os.major >= 6;
        }

        const auto refuse = [&](const char* key, const std::filesystem::path& path) {
            error = config.file.string() + ": [" + setup.section + "] " + key + "=\"" + path.string() +
                    "\" is invalid: the file cannot be created";
        };
        const auto open = [](const std::filesystem::path& path, const char* mode) {
            auto recording = std::make_unique<Recording>();
            recording->path = path.string();
            recording->file.reset(std::fopen(recording->path.c_str(), mode));
            if (!recording->file) recording.reset();
            return recording;
        };
        if (!setup.received_image.empty()) {
            auto out = open(setup.received_image, "wb");
            if (!out) {
                refuse("ReceivedImage", setup.received_image);
                return nullptr;
            }
            const Recording* sink = out.get();
            // Streamed straight to the file, so memory stays flat for any image,
            // and flushed with every write: the file holds the whole image by
            // the time the program says it is written, not only once it ends.
            printer->set_image_sink([sink](const std::uint8_t* data, std::size_t length) {
                sink->write(data, length);
                std::fflush(sink->file.get());
            });
            m.recordings.push_back(std::move(out));
        }
        if (!setup.transcript.empty()) {
            auto out = open(setup.transcript, "a");
            if (!out) {
                refuse("Transcript", setup.transcript);
                return nullptr;
            }
            const Recording* sink = out.get();
            Impl* machine = &m;
            printer->on_command([sink, machine](const std::vector<std::uint8_t>& command) {
                const std::string line = hex_line(machine->clock->tick_ms() - machine->start_tick, command) + '\n';
                sink->write(line.data(), line.size());
                std::fflush(sink->file.get());
            });
            m.recordings.push_back(std::move(out));
        }
        m.printers.push_back(std::move(printer));
    }
    return std::unique_ptr<VirtualMachine>(new VirtualMachine(std::move(impl)));
}

const MachineConfig& VirtualMachine::config() const { return impl_->config; }
OsVersionSource& VirtualMachine::os_version() { return impl_->os; }
ParallelPorts& VirtualMachine::parallel_ports() { return impl_->lpt; }
LibraryLoader& VirtualMachine::library_loader() { return impl_->loader; }
Clock& VirtualMachine::clock() { return *impl_->clock; }
ImageFiles& VirtualMachine::image_files() { return impl_->images; }
std::size_t VirtualMachine::printer_count() const { return impl_->printers.size(); }
VirtualPrinter& VirtualMachine::printer(std::size_t index) { return *impl_->printers.at(index); }
VirtualLptPorts& VirtualMachine::lpt() { return impl_->lpt; }
UsbDeviceTree& VirtualMachine::usb() { return impl_->usb; }

bool VirtualMachine::keep_only_usb_printer(std::size_t index) {
    const std::vector<PrinterSetup>& printers = impl_->config.printers;
    if (index >= printers.size() || !printers[index].on_usb()) return false;
    const veltport::Guid& usb_class = impl_->config.os.platform_id == OsVersion::kWindows9x ? veltport::CORVANE_USB_GUID
                                                                                           : veltport::MS_USBPRINT_GUID;
    // USB members were added in the file's order, skipping the parallel ports' printers.
    std::size_t member = 0;
    for (std::size_t i = 0; i < printers.size(); ++i) {
        if (!printers[i].on_usb()) continue;
        UsbDevice& device = impl_->usb.device(usb_class, member++);
        if (i == index) {
            UsbDeviceTree::replug(device);
        } else {
            UsbDeviceTree::unplug(device);
        }
    }
    return true;
}
NetworkPrinter* VirtualMachine::network_printer(std::size_t index) {
#if !defined(_WIN32)
    const std::vector<PrinterSetup>& printers = impl_->config.printers;
    if (index >= printers.size() || !printers[index].network) return nullptr;
    std::size_t member = 0;
    for (std::size_t i = 0; i < index; ++i) member += printers[i].network ? 1U : 0U;
    return impl_->network_printers.at(member).get();
#else
    static_cast<void>(index);
    return nullptr;
#endif
}

int VirtualMachine::open_network_connections() const {
    int open = 0;
#if !defined(_WIN32)
    for (const auto& server : impl_->servers) open += server->open_connections();
#endif
    return open;
}

int VirtualMachine::open_lpt_ports() const { return impl_->lpt.open_ports(); }
int VirtualMachine::open_usb_handles() const { return static_cast<int>(impl_->usb.counters().open_handles); }
int VirtualMachine::open_image_files() const { return impl_->images.open_files(); }
bool VirtualMachine::library_loaded() const { return g_library_owner == impl_.get(); }
std::uint32_t VirtualMachine::uptime_ms() { return impl_->clock->tick_ms() - impl_->start_tick; }

std::string VirtualMachine::recording_problem() const {
    for (const auto& recording : impl_->recordings) {
        if (!recording->good()) return recording->path + ": writing the recording failed";
    }
    return {};
}

std::unique_ptr<VirtualMachine> load_virtual_machine(const std::filesystem::path& file, std::string& error) {
    const std::optional<MachineConfig> config = read_machine_file(file, error);
    if (!config) return nullptr;
    return VirtualMachine::create(*config, error);
}

}  // namespace fwup::sim
