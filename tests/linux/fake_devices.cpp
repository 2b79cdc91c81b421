#include "tests/linux/fake_devices.h"

#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace fwup::test {

namespace {

std::string sys_path(const std::string& node) {
    std::string flat = node;
    for (char& c : flat) {
        if (c == '/') c = '_';
    }
    return "/devices/fake/" + flat;
}

}  // namespace

struct FakeDevices::Impl {
    UMockdevTestbed* testbed = nullptr;
    std::mutex mutex;
    std::map<std::string, IoctlHandler> handlers;  // by "/dev/<node>"
    std::vector<UMockdevIoctlBase*> ioctl_bases;
    int next_minor = 0;

    static gboolean handle_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<Impl*>(self)->answer(client);
    }

    gboolean answer(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        IoctlHandler handler;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            const auto found = handlers.find(umockdev_ioctl_client_get_devnode(client));
            if (found != handlers.end()) handler = found->second;
        }
        if (!handler) {
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            return TRUE;
        }
        const std::size_t size = _IOC_SIZE(request);
        UMockdevIoctlData* data = nullptr;
        if (size > 0) {
            data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, nullptr);
            if (data == nullptr) {
                umockdev_ioctl_client_complete(client, -1, EFAULT);
                return TRUE;
            }
        }
        const int error = handler(request, data != nullptr ? data->data : nullptr, size);
        umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
        return TRUE;
    }
};

FakeDevices::FakeDevices() : impl_(std::make_unique<Impl>()) { impl_->testbed = umockdev_testbed_new(); }

FakeDevices::~FakeDevices() {
    for (UMockdevIoctlBase* base : impl_->ioctl_bases) g_object_unref(base);
    g_object_unref(impl_->testbed);
}

// The preload is what fakes the nodes; the testbed itself can be made anywhere.
bool FakeDevices::available() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

int FakeDevices::add_node(const std::string& node, const std::string& subsystem) {
    // A node without content is backed by a pty, whose other end is the test's.
    const std::string record = "P: " + sys_path(node) + "\nN: " + node + "\nE: DEVNAME=/dev/" + node +
                               "\nE: SUBSYSTEM=" + subsystem + "\nA: dev=180:" +
                               std::to_string(impl_->next_minor++) + "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(impl_->testbed, record.c_str(), &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev cannot add /dev/" + node + ": " + message);
    }
    return umockdev_testbed_get_dev_fd(impl_->testbed, ("/dev/" + node).c_str());
}

void FakeDevices::remove_node(const std::string& node) {
    umockdev_testbed_remove_device(impl_->testbed, ("/sys" + sys_path(node)).c_str());
}

void FakeDevices::on_ioctl(const std::string& node, IoctlHandler handler) {
    const std::string devnode = "/dev/" + node;
    {
        const std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->handlers[devnode] = std::move(handler);
    }
    UMockdevIoctlBase* base = umockdev_ioctl_base_new();
    g_signal_connect_data(base, "handle-ioctl", reinterpret_cast<GCallback>(&Impl::handle_ioctl), impl_.get(),
                          nullptr, static_cast<GConnectFlags>(0));
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(impl_->testbed, devnode.c_str(), base, &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(base);
        throw std::runtime_error("umockdev cannot answer ioctls on " + devnode + ": " + message);
    }
    impl_->ioctl_bases.push_back(base);
}

}  // namespace fwup::test
