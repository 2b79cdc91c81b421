#pragma once
#include <utility>

#include "usbport/core/device_layer.h"

namespace veltport {

// An open device handle that the layer closes when the owner goes away.
class UniqueHandle {
public:
    UniqueHandle() = default;
    UniqueHandle(DeviceLayer& layer, Handle handle) : layer_(&layer), handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept
        : layer_(other.layer_), handle_(std::exchange(other.handle_, kInvalidHandle)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            layer_ = other.layer_;
            handle_ = std::exchange(other.handle_, kInvalidHandle);
        }
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    bool valid() const { return handle_ != kInvalidHandle; }
    explicit operator bool() const { return valid(); }

    void reset() {
        if (valid()) layer_->close(std::exchange(handle_, kInvalidHandle));
    }

private:
    DeviceLayer* layer_ = nullptr;
    Handle handle_ = kInvalidHandle;
};

// A device information set that the layer destroys when the owner goes away.
class UniqueDeviceSet {
public:
    UniqueDeviceSet(DeviceLayer& layer, DeviceSet set) : layer_(&layer), set_(set) {}
    UniqueDeviceSet(const UniqueDeviceSet&) = delete;
    UniqueDeviceSet& operator=(const UniqueDeviceSet&) = delete;
    ~UniqueDeviceSet() {
        if (valid()) layer_->destroy_interface_set(set_);
    }

    DeviceSet get() const { return set_; }
    bool valid() const { return set_ != kInvalidDeviceSet; }
    explicit operator bool() const { return valid(); }

private:
    DeviceLayer* layer_;
    DeviceSet set_;
};

}  // namespace veltport
