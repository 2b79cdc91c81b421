#include "tests/support/scripted_usb_port.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace fwup::test {
namespace {

ScriptedUsbPort* current = nullptr;

ScriptedUsbPort& port() {
    if (current == nullptr) throw std::logic_error("no ScriptedUsbPort alive");
    return *current;
}

constexpr char kDataTimeout[] = "10000";

class ScriptedLibrary final : public LoadedLibrary {
public:
    ScriptedLibrary(ScriptedUsbPort& usb, ScriptedLibraryLoader* loader) : usb_(usb), loader_(loader) {
        ++usb_.libraries_live;
    }
    ~ScriptedLibrary() override { --usb_.libraries_live; }
    ScriptedLibrary(const ScriptedLibrary&) = delete;
    ScriptedLibrary& operator=(const ScriptedLibrary&) = delete;

    ExportAddress find_export(const char* name) override {
        const std::string wanted(name);
        if (loader_ != nullptr) {
            loader_->lookups.push_back(wanted);
            if (loader_->exports.count(wanted) == 0) return nullptr;
        }
        if (wanted == "GetDeviceID") return reinterpret_cast<ExportAddress>(&ScriptedUsbPort::get_device_id);
        if (wanted == "WriteToUsbPort") return reinterpret_cast<ExportAddress>(&ScriptedUsbPort::write);
        if (wanted == "ReadFromUsbPort") return reinterpret_cast<ExportAddress>(&ScriptedUsbPort::read);
        return nullptr;
    }

private:
    ScriptedUsbPort& usb_;
    ScriptedLibraryLoader* loader_;
};

}  // namespace

ScriptedUsbPort::ScriptedUsbPort() { current = this; }
ScriptedUsbPort::~ScriptedUsbPort() {
    if (current == this) current = nullptr;
}

UsbPortApi ScriptedUsbPort::api() {
    UsbPortApi api;
    api.library = std::make_unique<ScriptedLibrary>(*this, nullptr);
    api.get_device_id = &get_device_id;
    api.write_to_usb_port = &write;
    api.read_from_usb_port = &read;
    return api;
}

std::vector<std::uint8_t> ScriptedUsbPort::data() const {
    std::vector<std::uint8_t> out;
    for (const auto& w : writes) {
        if (w.timeout == kDataTimeout) out.insert(out.end(), w.bytes.begin(), w.bytes.end());
    }
    return out;
}

std::vector<std::vector<std::uint8_t>> ScriptedUsbPort::commands() const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& w : writes) {
        if (w.timeout != kDataTimeout) out.push_back(w.bytes);
    }
    return out;
}

int VELTPORT_CALL ScriptedUsbPort::get_device_id(char* buffer, std::uint32_t* capacity) {
    auto& self = port();
    ++self.device_id_calls;
    self.device_id_capacities.push_back(*capacity);
    if (!self.script.connected) return 0;
    if (self.script.device_id_failures > 0) {
        --self.script.device_id_failures;
        return 0;
    }
    if (self.script.device_id_answers) {
        if (*self.script.device_id_answers == 0) return 0;
        --*self.script.device_id_answers;
    }
    const auto& id = self.script.device_id;
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(id.size(), *capacity));
    std::memcpy(buffer, id.data(), n);
    if (n < *capacity) buffer[n] = 0;
    *capacity = n;
    return 1;
}

int VELTPORT_CALL ScriptedUsbPort::write(const unsigned char* data, std::uint32_t length, std::uint32_t* written,
                                         const char* timeout) {
    auto& self = port();
    const std::string timeout_text(timeout);
    if (timeout_text != kDataTimeout) {
        self.writes.push_back({{data, data + length}, timeout_text});
        *written = self.script.command_write_result == VELTPORT_OK ? length : 0;
        return self.script.command_write_result;
    }
    const std::uint64_t taken = self.data_taken;
    std::uint64_t accept = length;
    int result = VELTPORT_OK;
    if (self.script.data_fail_after && taken + length > *self.script.data_fail_after) {
        accept = *self.script.data_fail_after > taken ? *self.script.data_fail_after - taken : 0;
        result = VELTPORT_TRANSFER_FAILED;
    } else if (self.script.data_short_after && taken + length > *self.script.data_short_after) {
        accept = *self.script.data_short_after > taken ? *self.script.data_short_after - taken : 0;
    }
    self.writes.push_back({{data, data + accept}, timeout_text});
    self.data_taken += accept;
    *written = static_cast<std::uint32_t>(accept);
    return result;
}

int VELTPORT_CALL ScriptedUsbPort::read(unsigned char* buffer, std::uint32_t length, std::uint32_t* got,
                                        const char* timeout) {
    auto& self = port();
    self.reads.push_back({length, timeout});
    if (self.script.read_leaves_count) return VELTPORT_TRANSFER_FAILED;
    *got = 0;
    if (self.script.replies.empty()) return VELTPORT_TRANSFER_FAILED;
    const auto reply = self.script.replies.front();
    self.script.replies.pop_front();
    *got = static_cast<std::uint32_t>(std::min<std::size_t>(reply.size(), length));
    if (*got > 0) std::memcpy(buffer, reply.data(), *got);
    return VELTPORT_OK;
}

std::unique_ptr<LoadedLibrary> ScriptedLibraryLoader::load(const std::string& path) {
    loads.push_back(path);
    if (!present) return nullptr;
    return std::make_unique<ScriptedLibrary>(port_, this);
}

}  // namespace fwup::test
