#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/printer/virtual_printer.h"
#include "core/transfer/clock.h"
#include "usbport/core/device_layer.h"

namespace fwup::sim {

// Misbehaviour of one simulated USB printer interface. Each count is the
// number of times the fault happens before the device behaves again;
// kAlways never runs out.
struct UsbFaults {
    static constexpr std::uint32_t kAlways = UINT32_MAX;

    std::uint32_t enumeration_failures = 0;  // enumerating the member fails (not "no more items")
    std::uint32_t path_failures = 0;         // the interface-detail query fails
    std::uint32_t descriptor_failures = 0;   // GET_DEVICE_DESCRIPTOR fails
    std::uint32_t device_id_failures = 0;    // GET_DEVICE_ID fails
    std::uint32_t write_timeout_failures = 0;
    std::uint32_t read_timeout_failures = 0;
    std::uint32_t write_pipe_open_failures = 0;
    std::uint32_t read_pipe_open_failures = 0;
    std::uint32_t write_failures = 0;  // writes that fail with nothing delivered
    std::uint32_t short_writes = 0;    // writes that deliver at most short_write_length bytes
    std::uint32_t short_write_length = 0;
    std::uint32_t empty_reads = 0;   // reads that succeed with 0 bytes
    std::uint32_t read_failures = 0;  // reads that fail
    // Reads that never answer: on a cancellable handle they end when the
    // caller's time-out runs out, cancelled; a plain read of one fails.
    std::uint32_t silent_reads = 0;
};

// One printer interface of a device-interface class.
struct UsbDevice {
    std::string path;
    std::shared_ptr<VirtualPrinter> printer;  // may be empty: the device answers no data
    bool present = true;                      // listed by the enumeration
    bool openable = true;                     // false: held by another process
    std::optional<std::uint16_t> vendor_id;   // default: the printer's configured vendor
    std::optional<std::string> device_id;     // default: printer->identify()
    std::optional<std::uint16_t> device_id_count;  // default: the text's length
    // Driven by the system's own class driver (NT 6 and later): the
    // interface path carries the transfers, there are no pipe names,
    // GET_1284_ID is the only request, and its count includes its own two
    // bytes. The maker's requests fail as unknown.
    bool class_driver = false;
    // The device node's hardware IDs; default: USB IDs of the vendor, as a
    // plugged-in printer's node has them. The node above has none by default.
    std::optional<std::vector<std::string>> hardware_ids;
    std::optional<std::vector<std::string>> parent_hardware_ids;
    UsbFaults faults;
    // Scripted answers: each read takes the first of these, whole or cut to the
    // read's length, before the printer is asked.
    std::deque<std::vector<std::uint8_t>> queued_reads;

    // Time-out texts the driver received, in order.
    std::vector<std::string> write_timeouts;
    std::vector<std::string> read_timeouts;
};

struct UsbCounters {
    std::int64_t open_handles = 0;  // open now
    std::uint64_t opens = 0;        // successful opens
    std::uint64_t failed_opens = 0;
    std::uint64_t closes = 0;
    std::uint64_t bad_closes = 0;  // closes of handles that were not open
    std::map<std::uint32_t, std::uint64_t> requests;  // device I/O control requests by code
    std::uint64_t enumerations = 0;                   // enumeration calls, any outcome
    std::uint64_t sets_created = 0;
    std::uint64_t sets_destroyed = 0;
    std::uint64_t version_queries = 0;
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
    std::uint64_t bytes_written = 0;
    std::uint64_t bytes_read = 0;
    std::vector<std::uint32_t> sleeps;  // each sleep's length in ms
    std::vector<std::uint32_t> transfer_timeouts;  // each cancellable transfer's time-out in ms
    std::uint64_t cancelled_transfers = 0;
    std::uint64_t hardware_id_queries = 0;

    std::uint64_t requests_of(std::uint32_t code) const;
};

// One open call as the system saw it.
struct UsbOpenCall {
    std::string path;
    std::uint32_t access = 0;
    std::uint32_t share = 0;
    bool opened = false;
    bool cancellable = false;
};

// A simulated machine's USB side below the USB port library: the system
// version, interface classes with ordered members, and the driver of each
// member, whose bulk pipes (path + "\PIPE00" out, path + "\PIPE01" in) are
// wired to a virtual printer. Sleeping advances the injected clock.
class UsbDeviceTree final : public veltport::DeviceLayer {
public:
    static constexpr veltport::OsVersionInfo kWindows98{veltport::OsVersionInfo::kWin32Windows, 4, 10};
    static constexpr veltport::OsVersionInfo kWindows2000{veltport::OsVersionInfo::kWin32Nt, 5, 0};

    explicit UsbDeviceTree(Clock& clock,
                           std::optional<veltport::OsVersionInfo> os_version = kWindows2000);

    // --- Building the tree. ---
    void set_os_version(std::optional<veltport::OsVersionInfo> version) { os_version_ = version; }
    // Appends a member to the class; the reference stays valid for the tree's life.
    UsbDevice& add_device(const veltport::Guid& interface_class, UsbDevice device);
    // A healthy printer at `path` in the class, wired to `printer`.
    UsbDevice& add_printer(const veltport::Guid& interface_class, std::string path,
                           std::shared_ptr<VirtualPrinter> printer);
    UsbDevice& device(const veltport::Guid& interface_class, std::size_t member);
    std::size_t member_count(const veltport::Guid& interface_class) const;
    // Unplugging hides the device from enumeration and fails I/O on its open
    // handles; replugging brings it back under the same path.
    static void unplug(UsbDevice& device) { device.present = false; }
    static void replug(UsbDevice& device) { device.present = true; }
    // The next N device-information sets cannot be created.
    void fail_set_creation(std::uint32_t times) { set_creation_failures_ = times; }

    // --- What happened. ---
    const UsbCounters& counters() const { return counters_; }
    const std::vector<UsbOpenCall>& open_calls() const { return open_calls_; }
    const std::string& debug_text() const { return debug_text_; }
    const std::string& standard_text() const { return standard_text_; }
    void clear_records();
    // Whether each open and each time-out text is logged (tests read them).
    // A long-running machine turns it off: the log would grow with every
    // block of an image, while the counters stay.
    void keep_call_log(bool keep) { keep_call_log_ = keep; }

    // --- veltport::DeviceLayer. ---
    std::optional<veltport::OsVersionInfo> query_os_version() override;
    veltport::DeviceSet create_interface_set(const veltport::Guid& interface_class) override;
    veltport::EnumOutcome enum_interface(veltport::DeviceSet set, const veltport::Guid& interface_class,
                                         std::uint32_t index, veltport::InterfaceRef& out) override;
    std::optional<std::string> interface_path(veltport::DeviceSet set,
                                              const veltport::InterfaceRef& iface) override;
    void destroy_interface_set(veltport::DeviceSet set) override;
    veltport::Handle open(const char* path, std::uint32_t access, std::uint32_t share) override;
    bool io_control(veltport::Handle handle, std::uint32_t code, const void* in, std::uint32_t in_size,
                    void* out, std::uint32_t out_size, std::uint32_t& returned) override;
    bool read(veltport::Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got) override;
    bool write(veltport::Handle handle, const void* data, std::uint32_t length,
               std::uint32_t& written) override;
    void close(veltport::Handle handle) override;
    std::optional<std::vector<std::string>> hardware_ids(veltport::DeviceSet set, const veltport::InterfaceRef& iface,
                                                         bool parent) override;
    veltport::Handle open_cancellable(const char* path, std::uint32_t access, std::uint32_t share) override;
    bool read_within(veltport::Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got,
                     std::uint32_t timeout_ms) override;
    bool write_within(veltport::Handle handle, const void* data, std::uint32_t length, std::uint32_t& written,
                      std::uint32_t timeout_ms) override;
    std::uint32_t last_error() override { return last_error_; }
    void sleep_ms(std::uint32_t ms) override;
    void debug_output(const char* text) override;
    void standard_output(const char* text) override;

private:
    enum class Endpoint { Control, WritePipe, ReadPipe };
    // What a path opens.
    struct Target {
        UsbDevice* device;
        Endpoint endpoint;
    };
    struct OpenHandle : Target {
        veltport::Handle handle;
        std::uint32_t access;
        bool cancellable;
    };
    struct InterfaceClass {
        veltport::Guid guid;
        std::deque<UsbDevice> members;
    };
    struct DeviceInfoSet {
        veltport::Guid guid;
        std::vector<UsbDevice*> members;  // present members when the set was made
    };

    InterfaceClass* find_class(const veltport::Guid& guid);
    const InterfaceClass* find_class(const veltport::Guid& guid) const;
    std::optional<Target> find_target(std::string_view path);
    OpenHandle* find_handle(veltport::Handle handle);
    bool fail(std::uint32_t error);
    veltport::Handle open_handle(const char* path, std::uint32_t access, std::uint32_t share, bool cancellable);
    // The device a read or write on the handle reaches, or null (error set).
    UsbDevice* transfer_device(veltport::Handle handle, Endpoint pipe, std::uint32_t access);
    bool read_reply(UsbDevice& device, void* buffer, std::uint32_t length, std::uint32_t& got);
    bool write_data(UsbDevice& device, const void* data, std::uint32_t length, std::uint32_t& written);
    bool answer_request(UsbDevice& device, std::uint32_t code, const void* in, std::uint32_t in_size,
                        void* out, std::uint32_t out_size, std::uint32_t& returned);

    Clock* clock_;
    std::optional<veltport::OsVersionInfo> os_version_;
    std::deque<InterfaceClass> classes_;  // a deque: members keep their addresses
    std::map<veltport::DeviceSet, DeviceInfoSet> sets_;
    std::vector<OpenHandle> handles_;  // a handful at most: a flat list beats a tree here
    veltport::DeviceSet next_set_ = 0x1000;
    veltport::Handle next_handle_ = 0x100;
    std::uint32_t set_creation_failures_ = 0;
    std::uint32_t last_error_ = 0;
    UsbCounters counters_;
    std::vector<UsbOpenCall> open_calls_;
    bool keep_call_log_ = true;
    std::string debug_text_;
    std::string standard_text_;
};

}  // namespace fwup::sim
