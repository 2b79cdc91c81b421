#include "sim/usb/usb_device_tree.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace fwup::sim {

using veltport::DeviceSet;
using veltport::EnumOutcome;
using veltport::Guid;
using veltport::Handle;
using veltport::InterfaceRef;

namespace {

// ERROR_INVALID_PARAMETER: what a driver answers a request of the wrong size.
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kRequestInputSize = 8;

// The output size the printer driver takes with each of its requests; 0 for a
// request it does not know.
std::uint32_t request_output_size(std::uint32_t code) {
    switch (code) {
        case veltport::GET_DEVICE_DESCRIPTOR:
        case veltport::GET_DEVICE_ID: return 4096;
        case veltport::SET_WRITE_TIMEOUT:
        case veltport::SET_READ_TIMEOUT: return 8;
        default: return 0;
    }
}

constexpr std::string_view kWritePipeSuffix = "\\PIPE00";
constexpr std::string_view kReadPipeSuffix = "\\PIPE01";
constexpr std::uint16_t kProductId = 0x0001;

// True while the fault still has to happen, counting it down.
bool happens(std::uint32_t& remaining) {
    if (remaining == 0) return false;
    if (remaining != UsbFaults::kAlways) --remaining;
    return true;
}

std::array<std::uint8_t, 18> device_descriptor(std::uint16_t vendor) {
    return {18,   1,    0x10, 0x01,  // bLength, bDescriptorType, bcdUSB 1.10
            0,    0,    0,    64,    // class, subclass, protocol, bMaxPacketSize0
            static_cast<std::uint8_t>(vendor & 0xFF), static_cast<std::uint8_t>(vendor >> 8),
            static_cast<std::uint8_t>(kProductId & 0xFF), static_cast<std::uint8_t>(kProductId >> 8),
            0x00, 0x01,  // bcdDevice 1.00
            1,    2,    3,    1};  // string indices, bNumConfigurations
}

}  // namespace

std::uint64_t UsbCounters::requests_of(std::uint32_t code) const {
    const auto it = requests.find(code);
    return it == requests.end() ? 0 : it->second;
}

UsbDeviceTree::UsbDeviceTree(Clock& clock, std::optional<veltport::OsVersionInfo> os_version)
    : clock_(&clock), os_version_(os_version) {}

UsbDeviceTree::InterfaceClass* UsbDeviceTree::find_class(const Guid& guid) {
    auto it = std::find_if(classes_.begin(), classes_.end(),
                           [&](const InterfaceClass& c) { return c.guid == guid; });
    return it == classes_.end() ? nullptr : &*it;
}

const UsbDeviceTree::InterfaceClass* UsbDeviceTree::find_class(const Guid& guid) const {
    auto it = std::find_if(classes_.begin(), classes_.end(),
                           [&](const InterfaceClass& c) { return c.guid == guid; });
    return it == classes_.end() ? nullptr : &*it;
}

UsbDevice& UsbDeviceTree::add_device(const Guid& interface_class, UsbDevice device) {
    InterfaceClass* cls = find_class(interface_class);
    if (cls == nullptr) {
        classes_.push_back(InterfaceClass{interface_class, {}});
        cls = &classes_.back();
    }
    cls->members.push_back(std::move(device));
    return cls->members.back();
}

UsbDevice& UsbDeviceTree::add_printer(const Guid& interface_class, std::string path,
                                      std::shared_ptr<VirtualPrinter> printer) {
    UsbDevice device;
    device.path = std::move(path);
    device.printer = std::move(printer);
    return add_device(interface_class, std::move(device));
}

UsbDevice& UsbDeviceTree::device(const Guid& interface_class, std::size_t member) {
    return find_class(interface_class)->members.at(member);
}

std::size_t UsbDeviceTree::member_count(const Guid& interface_class) const {
    const InterfaceClass* cls = find_class(interface_class);
    return cls == nullptr ? 0 : cls->members.size();
}

void UsbDeviceTree::clear_records() {
    const std::int64_t open_now = counters_.open_handles;
    counters_ = UsbCounters{};
    counters_.open_handles = open_now;
    open_calls_.clear();
    for (InterfaceClass& cls : classes_) {
        for (UsbDevice& member : cls.members) {
            member.write_timeouts.clear();
            member.read_timeouts.clear();
        }
    }
    debug_text_.clear();
    standard_text_.clear();
}

bool UsbDeviceTree::fail(std::uint32_t error) {
    last_error_ = error;
    return false;
}

UsbDeviceTree::OpenHandle* UsbDeviceTree::find_handle(Handle handle) {
    const auto it = std::find_if(handles_.begin(), handles_.end(),
                                 [handle](const OpenHandle& open) { return open.handle == handle; });
    return it == handles_.end() ? nullptr : &*it;
}

std::optional<veltport::OsVersionInfo> UsbDeviceTree::query_os_version() {
    ++counters_.version_queries;
    if (!os_version_) last_error_ = 122;  // ERROR_INSUFFICIENT_BUFFER, as for a bad record size
    return os_version_;
}

DeviceSet UsbDeviceTree::create_interface_set(const Guid& interface_class) {
    if (happens(set_creation_failures_)) {
        fail(veltport::kErrorGenFailure);
        return veltport::kInvalidDeviceSet;
    }
    DeviceInfoSet set{interface_class, {}};
    if (InterfaceClass* cls = find_class(interface_class)) {
        for (UsbDevice& member : cls->members) {
            if (member.present) set.members.push_back(&member);
        }
    }
    const DeviceSet id = next_set_++;
    sets_.emplace(id, std::move(set));
    ++counters_.sets_created;
    return id;
}

EnumOutcome UsbDeviceTree::enum_interface(DeviceSet set, const Guid& interface_class,
                                          std::uint32_t index, InterfaceRef& out) {
    ++counters_.enumerations;
    auto it = sets_.find(set);
    if (it == sets_.end() || !(it->second.guid == interface_class)) {
        fail(veltport::kErrorInvalidHandle);
        return EnumOutcome::Failed;
    }
    if (index >= it->second.members.size()) {
        fail(veltport::kErrorNoMoreItems);
        return EnumOutcome::NoMoreItems;
    }
    if (happens(it->second.members[index]->faults.enumeration_failures)) {
        fail(veltport::kErrorGenFailure);
        return EnumOutcome::Failed;
    }
    out = InterfaceRef{};
    out.opaque[0] = static_cast<std::uint64_t>(set);
    out.opaque[1] = index;
    return EnumOutcome::Found;
}

std::optional<std::string> UsbDeviceTree::interface_path(DeviceSet set, const InterfaceRef& iface) {
    auto it = sets_.find(set);
    if (it == sets_.end() || iface.opaque[0] != static_cast<std::uint64_t>(set) ||
        iface.opaque[1] >= it->second.members.size()) {
        fail(veltport::kErrorInvalidHandle);
        return std::nullopt;
    }
    UsbDevice& device = *it->second.members[static_cast<std::size_t>(iface.opaque[1])];
    if (happens(device.faults.path_failures)) {
        fail(veltport::kErrorGenFailure);
        return std::nullopt;
    }
    return device.path;
}

void UsbDeviceTree::destroy_interface_set(DeviceSet set) {
    if (sets_.erase(set) != 0) ++counters_.sets_destroyed;
}

// The first present member whose path, or one of whose pipe paths, is the
// path. Compared in place: the library opens the write pipe for every block.
std::optional<UsbDeviceTree::Target> UsbDeviceTree::find_target(std::string_view path) {
    for (InterfaceClass& cls : classes_) {
        for (UsbDevice& member : cls.members) {
            if (!member.present || !path.starts_with(member.path)) continue;
            const std::string_view rest = path.substr(member.path.size());
            if (rest.empty()) return Target{&member, Endpoint::Control};
            if (member.class_driver) continue;  // no names below the interface
            if (rest == kWritePipeSuffix) return Target{&member, Endpoint::WritePipe};
            if (rest == kReadPipeSuffix) return Target{&member, Endpoint::ReadPipe};
        }
    }
    return std::nullopt;
}

Handle UsbDeviceTree::open(const char* path, std::uint32_t access, std::uint32_t share) {
    return open_handle(path, access, share, false);
}

Handle UsbDeviceTree::open_cancellable(const char* path, std::uint32_t access, std::uint32_t share) {
    return open_handle(path, access, share, true);
}

Handle UsbDeviceTree::open_handle(const char* path, std::uint32_t access, std::uint32_t share, bool cancellable) {
    if (keep_call_log_) open_calls_.push_back(UsbOpenCall{path, access, share, false, cancellable});
    const std::optional<Target> target = find_target(path);
    const auto refuse = [&](std::uint32_t error) {
        ++counters_.failed_opens;
        fail(error);
        return veltport::kInvalidHandle;
    };
    if (!target) return refuse(veltport::kErrorFileNotFound);
    UsbDevice* device = target->device;
    const Endpoint endpoint = target->endpoint;
    if (!device->openable) return refuse(veltport::kErrorSharingViolation);
    if (endpoint == Endpoint::WritePipe && happens(device->faults.write_pipe_open_failures)) {
        return refuse(veltport::kErrorGenFailure);
    }
    if (endpoint == Endpoint::ReadPipe && happens(device->faults.read_pipe_open_failures)) {
        return refuse(veltport::kErrorGenFailure);
    }
    const Handle handle = next_handle_;
    next_handle_ += 4;
    handles_.push_back(OpenHandle{*target, handle, access, cancellable});
    ++counters_.opens;
    ++counters_.open_handles;
    if (keep_call_log_) open_calls_.back().opened = true;
    return handle;
}

bool UsbDeviceTree::io_control(Handle handle, std::uint32_t code, const void* in,
                               std::uint32_t in_size, void* out, std::uint32_t out_size,
                               std::uint32_t& returned) {
    ++counters_.requests[code];
    returned = 0;
    OpenHandle* open_handle = find_handle(handle);
    if (open_handle == nullptr) return fail(veltport::kErrorInvalidHandle);
    if (open_handle->endpoint != Endpoint::Control) return fail(veltport::kErrorInvalidFunction);
    // The driver takes its requests with exactly these sizes: a library that
    // passes others fails here, as it would with the real driver.
    const std::uint32_t output_size = request_output_size(code);
    if (output_size != 0 && (in == nullptr || in_size != kRequestInputSize || out == nullptr || out_size != output_size)) {
        return fail(kErrorInvalidParameter);
    }
    if (!open_handle->device->present) return fail(veltport::kErrorDeviceNotConnected);
    return answer_request(*open_handle->device, code, in, in_size, out, out_size, returned);
}

bool UsbDeviceTree::answer_request(UsbDevice& device, std::uint32_t code, const void* in,
                                   std::uint32_t in_size, void* out, std::uint32_t out_size,
                                   std::uint32_t& returned) {
    auto* out_bytes = static_cast<std::uint8_t*>(out);
    if (device.class_driver) {
        if (code != veltport::GET_1284_ID) return fail(veltport::kErrorInvalidFunction);
        if (happens(device.faults.device_id_failures)) return fail(veltport::kErrorGenFailure);
        std::optional<std::string> text = device.device_id;
        if (!text && device.printer) text = device.printer->identify();
        if (!text || out_size < 2) return fail(veltport::kErrorGenFailure);
        // The count includes its own two bytes; a NUL follows the text.
        const std::uint16_t count = device.device_id_count.value_or(
            static_cast<std::uint16_t>(std::min<std::size_t>(text->size() + 2, 0xFFFF)));
        out_bytes[0] = static_cast<std::uint8_t>(count >> 8);
        out_bytes[1] = static_cast<std::uint8_t>(count & 0xFF);
        const std::size_t copied = std::min<std::size_t>(text->size(), out_size - 2u);
        std::copy_n(text->begin(), copied, out_bytes + 2);
        if (copied + 2 < out_size) out_bytes[copied + 2] = 0;
        returned = static_cast<std::uint32_t>(std::min<std::size_t>(copied + 3, out_size));
        return true;
    }
    switch (code) {
        case veltport::GET_DEVICE_DESCRIPTOR: {
            if (happens(device.faults.descriptor_failures)) return fail(veltport::kErrorGenFailure);
            const std::uint16_t vendor =
                device.vendor_id.value_or(device.printer ? device.printer->config().vendor_id : 0);
            const auto descriptor = device_descriptor(vendor);
            returned = std::min<std::uint32_t>(out_size, static_cast<std::uint32_t>(descriptor.size()));
            std::copy_n(descriptor.begin(), returned, out_bytes);
            return true;
        }
        case veltport::GET_DEVICE_ID: {
            if (happens(device.faults.device_id_failures)) return fail(veltport::kErrorGenFailure);
            std::optional<std::string> text = device.device_id;
            if (!text && device.printer) text = device.printer->identify();
            if (!text || out_size < 2) return fail(veltport::kErrorGenFailure);
            const std::uint16_t count = device.device_id_count.value_or(
                static_cast<std::uint16_t>(std::min<std::size_t>(text->size(), 0xFFFF)));
            out_bytes[0] = static_cast<std::uint8_t>(count >> 8);
            out_bytes[1] = static_cast<std::uint8_t>(count & 0xFF);
            const std::size_t copied = std::min<std::size_t>(text->size(), out_size - 2u);
            std::copy_n(text->begin(), copied, out_bytes + 2);
            returned = static_cast<std::uint32_t>(copied + 2);
            return true;
        }
        case veltport::SET_WRITE_TIMEOUT:
        case veltport::SET_READ_TIMEOUT: {
            const bool write_side = code == veltport::SET_WRITE_TIMEOUT;
            if (happens(write_side ? device.faults.write_timeout_failures
                                   : device.faults.read_timeout_failures)) {
                return fail(veltport::kErrorGenFailure);
            }
            const auto* text = static_cast<const char*>(in);
            const std::size_t length = text == nullptr ? 0 : strnlen(text, in_size);
            if (keep_call_log_) {
                (write_side ? device.write_timeouts : device.read_timeouts)
                    .emplace_back(text == nullptr ? "" : std::string(text, length));
            }
            return true;
        }
        default:
            return fail(veltport::kErrorInvalidFunction);
    }
}

UsbDevice* UsbDeviceTree::transfer_device(Handle handle, Endpoint pipe, std::uint32_t access) {
    OpenHandle* open_handle = find_handle(handle);
    if (open_handle == nullptr) {
        fail(veltport::kErrorInvalidHandle);
        return nullptr;
    }
    // The class driver moves data over the interface path itself.
    const Endpoint expected = open_handle->device->class_driver ? Endpoint::Control : pipe;
    if (open_handle->endpoint != expected) {
        fail(veltport::kErrorInvalidFunction);
        return nullptr;
    }
    if ((open_handle->access & access) == 0) {
        fail(veltport::kErrorAccessDenied);
        return nullptr;
    }
    if (!open_handle->device->present) {
        fail(veltport::kErrorDeviceNotConnected);
        return nullptr;
    }
    return open_handle->device;
}

bool UsbDeviceTree::read(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got) {
    ++counters_.reads;
    got = 0;
    UsbDevice* device = transfer_device(handle, Endpoint::ReadPipe, veltport::kGenericRead);
    if (device == nullptr) return false;
    // Nothing could end a plain read of a printer that never answers.
    if (happens(device->faults.silent_reads)) return fail(veltport::kErrorGenFailure);
    return read_reply(*device, buffer, length, got);
}

bool UsbDeviceTree::read_within(Handle handle, void* buffer, std::uint32_t length, std::uint32_t& got,
                                std::uint32_t timeout_ms) {
    ++counters_.reads;
    got = 0;
    const OpenHandle* open_handle = find_handle(handle);
    if (open_handle != nullptr && !open_handle->cancellable) return fail(87);  // ERROR_INVALID_PARAMETER
    counters_.transfer_timeouts.push_back(timeout_ms);
    UsbDevice* device = transfer_device(handle, Endpoint::ReadPipe, veltport::kGenericRead);
    if (device == nullptr) return false;
    if (happens(device->faults.silent_reads)) {
        clock_->sleep_ms(timeout_ms);
        ++counters_.cancelled_transfers;
        return fail(veltport::kErrorOperationAborted);
    }
    return read_reply(*device, buffer, length, got);
}

bool UsbDeviceTree::read_reply(UsbDevice& device, void* buffer, std::uint32_t length, std::uint32_t& got) {
    if (happens(device.faults.read_failures)) return fail(veltport::kErrorGenFailure);
    if (happens(device.faults.empty_reads)) return true;
    if (!device.queued_reads.empty()) {
        const std::vector<std::uint8_t>& next = device.queued_reads.front();
        got = std::min(length, static_cast<std::uint32_t>(next.size()));
        std::copy_n(next.begin(), got, static_cast<std::uint8_t*>(buffer));
        device.queued_reads.pop_front();
        counters_.bytes_read += got;
        return true;
    }
    if (!device.printer) return true;
    got = static_cast<std::uint32_t>(device.printer->read_reply(static_cast<std::uint8_t*>(buffer), length));
    counters_.bytes_read += got;
    return true;
}

bool UsbDeviceTree::write(Handle handle, const void* data, std::uint32_t length,
                          std::uint32_t& written) {
    ++counters_.writes;
    written = 0;
    UsbDevice* device = transfer_device(handle, Endpoint::WritePipe, veltport::kGenericWrite);
    return device != nullptr && write_data(*device, data, length, written);
}

bool UsbDeviceTree::write_within(Handle handle, const void* data, std::uint32_t length, std::uint32_t& written,
                                 std::uint32_t timeout_ms) {
    ++counters_.writes;
    written = 0;
    const OpenHandle* open_handle = find_handle(handle);
    if (open_handle != nullptr && !open_handle->cancellable) return fail(87);  // ERROR_INVALID_PARAMETER
    counters_.transfer_timeouts.push_back(timeout_ms);
    UsbDevice* device = transfer_device(handle, Endpoint::WritePipe, veltport::kGenericWrite);
    return device != nullptr && write_data(*device, data, length, written);
}

bool UsbDeviceTree::write_data(UsbDevice& device, const void* data, std::uint32_t length,
                               std::uint32_t& written) {
    if (happens(device.faults.write_failures)) return fail(veltport::kErrorGenFailure);
    std::uint32_t offered = length;
    if (happens(device.faults.short_writes)) offered = std::min(length, device.faults.short_write_length);
    std::uint32_t taken = offered;
    if (device.printer) {
        taken = static_cast<std::uint32_t>(
            device.printer->receive(static_cast<const std::uint8_t*>(data), offered));
    }
    written = taken;
    counters_.bytes_written += taken;
    if (taken < offered) return fail(veltport::kErrorGenFailure);
    // The class driver reports a write it took in part as a success: only
    // the count tells.
    return true;
}

void UsbDeviceTree::close(Handle handle) {
    OpenHandle* open_handle = find_handle(handle);
    if (open_handle == nullptr) {
        ++counters_.bad_closes;
        fail(veltport::kErrorInvalidHandle);
        return;
    }
    // Order does not matter; a handle is only ever looked up by its value.
    *open_handle = handles_.back();
    handles_.pop_back();
    ++counters_.closes;
    --counters_.open_handles;
}

std::optional<std::vector<std::string>> UsbDeviceTree::hardware_ids(DeviceSet set, const InterfaceRef& iface,
                                                                    bool parent) {
    ++counters_.hardware_id_queries;
    auto it = sets_.find(set);
    if (it == sets_.end() || iface.opaque[0] != static_cast<std::uint64_t>(set) ||
        iface.opaque[1] >= it->second.members.size()) {
        fail(veltport::kErrorInvalidHandle);
        return std::nullopt;
    }
    const UsbDevice& device = *it->second.members[static_cast<std::size_t>(iface.opaque[1])];
    if (parent) return device.parent_hardware_ids;
    if (device.hardware_ids) return device.hardware_ids;
    const std::uint16_t vendor = device.vendor_id.value_or(device.printer ? device.printer->config().vendor_id : 0);
    char usb_id[32];
    std::snprintf(usb_id, sizeof usb_id, "USB\\VID_%04X&PID_%04X", vendor, kProductId);
    return std::vector<std::string>{std::string(usb_id) + "&REV_0100", usb_id};
}

void UsbDeviceTree::sleep_ms(std::uint32_t ms) {
    counters_.sleeps.push_back(ms);
    clock_->sleep_ms(ms);
}

void UsbDeviceTree::debug_output(const char* text) { debug_text_ += text; }

void UsbDeviceTree::standard_output(const char* text) { standard_text_ += text; }

}  // namespace fwup::sim
