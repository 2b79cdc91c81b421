#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace fwup::test {

// Device nodes faked with umockdev: the program under test opens /dev/<node>
// as usual, its reads and writes reach the test's end of the node (a pty,
// raw), and its ioctls are answered by a handler of the test. Works only in a
// process started under umockdev's preload (umockdev-wrapper).
class FakeDevices {
public:
    // Answers one ioctl: `data` is the caller's argument (`size` bytes, as the
    // request's size field says), to be filled in. Returns 0 or an errno.
    using IoctlHandler = std::function<int(unsigned long request, std::uint8_t* data, std::size_t size)>;

    FakeDevices();
    ~FakeDevices();
    FakeDevices(const FakeDevices&) = delete;
    FakeDevices& operator=(const FakeDevices&) = delete;

    // Whether this process runs under umockdev's preload.
    static bool available();

    // Adds /dev/<node> ("usb/lp0"), a character device of `subsystem`, and
    // returns the test's end of it (owned by the testbed).
    int add_node(const std::string& node, const std::string& subsystem);
    // Takes the node away again, as an unplugged device.
    void remove_node(const std::string& node);
    // Every ioctl on /dev/<node> goes to `handler` (on umockdev's thread).
    void on_ioctl(const std::string& node, IoctlHandler handler);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace fwup::test
