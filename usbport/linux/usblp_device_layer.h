#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "usbport/core/device_layer.h"

namespace veltport {

// How the usblp layer reaches the kernel's USB printer driver.
struct UsblpConfig {
    // The driver's nodes are <directory>/lp0 .. lp<node_count - 1>.
    std::string device_directory = "/dev/usb";
    std::uint32_t node_count = 16;
    // Empty: every present node. Otherwise the one node the library may reach
    // (the printer an operator chose), the class's only member while it exists.
    // The layer over the system's own nodes takes it from VELTPORT_DEVICE.
    std::string device;
    // Longest wait for one read or one write. On an NT 5.x system the library
    // hands the layer no time-out of its own, so these are the layer's: a read
    // waits as long as the program asks for its replies ("1000"), a write as
    // long as it allows for an image block ("10000"), the larger of its two
    // values, because a write cannot tell a command from a block.
    std::uint32_t read_timeout_ms = 1000;
    std::uint32_t write_timeout_ms = 10000;
    // A reply that came in pieces is read on while each next piece follows
    // within this gap (usblp fetches a piece only once the one before has been
    // read), never past the read's time-out.
    std::uint32_t piece_gap_ms = 100;
    // Empty: the system's own (a real sleep; the debug channel goes to standard
    // error when VELTPORT_DEBUG is set, and is dropped otherwise; standard output).
    std::function<void(std::uint32_t)> sleep;
    std::function<void(const char*)> debug;
    std::function<void(const char*)> out;
};

// The library's device layer over usblp (/dev/usb/lpN). The system's USB
// printing interface class (MS_USBPRINT_GUID) has the driver's present nodes as
// members, lowest number first, or only the configured device; the maker's own
// class has none on Linux. A node's
// two pipes are the node itself, opened for writing or for reading. Reads and
// writes wait with poll() and give up after the configured time-out, so a silent
// printer cannot hang the caller. Handles are the file descriptors.
//
// usblp reads from the printer ahead, from the moment a node is opened, and
// throws away what it read (or was reading) when the node is closed. The
// library opens a node for each command and again for its reply, so closing
// the node in between would lose a reply that came quickly. A closed handle's
// node therefore stays open, parked, and the next handle of that node takes it
// over; a node is closed for good when it hung up or failed, and when the layer
// goes. Whatever is waiting when a write starts came before that write's
// command, so it cannot be its reply: it is dropped.
class UsblpDeviceLayer final : public DeviceLayer {
public:
    explicit UsblpDeviceLayer(UsblpConfig config = {});
    ~UsblpDeviceLayer() override;
    UsblpDeviceLayer(const UsblpDeviceLayer&) = delete;
    UsblpDeviceLayer& operator=(const UsblpDeviceLayer&) = delete;

    // Answers as an NT 5.0 system, so that the library searches the system's
    // USB printing class, the only one with members here.
    std::optional<OsVersionInfo> query_os_version() override;

    DeviceSet create_interface_set(const Guid& interface_class) override;
    EnumOutcome enum_interface(DeviceSet set, const Guid& interface_class, std::uint32_t index,
                               InterfaceRef& out) override;
    std::optional<std::string> interface_path(DeviceSet set, const InterfaceRef& iface) override;
    void destroy_interface_set(DeviceSet set) override;

    Handle open(const char* path, std::uint32_t access, std::uint32_t share) override;
    bool io_control(Handle handle, std::uint32_t code, const void* in, std::uint32_t in_size, void* out,
                    std::uint32_t out_size, std::uint32_t& returned) override;
    bool read(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got) override;
    bool write(Handle handle, const void* data, std::uint32_t length, std::uint32_t& written) override;
    void close(Handle handle) override;

    std::uint32_t last_error() override { return last_error_; }
    void sleep_ms(std::uint32_t ms) override;
    void debug_output(const char* text) override;
    void standard_output(const char* text) override;

    // Handles open right now (tests check that every call closed what it opened),
    // and nodes kept open behind closed handles.
    std::size_t open_handles() const { return handles_.size(); }
    std::size_t parked_nodes() const { return parked_.size(); }
    std::string node_path(std::uint32_t node) const;

private:
    // Types of the layer's own: the standard containers instantiated over them
    // stay hidden inside the shared library, whose only exports are its C functions.
    struct Members {
        std::vector<std::string> paths;
    };
    struct Opened {
        std::uint32_t access = 0;
        std::string node;
        int mode = 0;          // O_RDWR, O_WRONLY or O_RDONLY
        bool failed = false;   // the driver reported an error: not kept open
    };
    // A node kept open after its handle was closed.
    struct Parked {
        int fd = -1;
        int mode = 0;
    };

    bool fail(int error_number);
    bool known(Handle handle);
    bool device_id(int fd, std::uint8_t* out, std::uint32_t out_size, std::uint32_t& returned);
    bool device_descriptor(int fd, std::uint8_t* out, std::uint32_t out_size, std::uint32_t& returned);
    Parked take_parked(const std::string& node, int mode);

    UsblpConfig config_;
    std::map<DeviceSet, Members> sets_;
    DeviceSet next_set_ = 1;
    std::map<Handle, Opened> handles_;
    std::map<std::string, Parked> parked_;
    std::uint32_t last_error_ = 0;
};

// The layer over the system's own nodes, with the default time-outs, reaching
// only the node VELTPORT_DEVICE names when that is set.
DeviceLayer& usblp_device_layer();

// The driver's private requests (no public header carries them).
std::uint32_t lpioc_get_device_id(std::uint32_t length);
std::uint32_t lpioc_get_vid_pid(std::uint32_t length);

}  // namespace veltport
