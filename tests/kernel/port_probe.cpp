// veltport-probe: calls the USB port library's exports one at a time, loaded
// from ./libveltport.so (or VELTPORT_PROBE_LIBRARY) as the program loads it, and
// prints what each returned as one line of key=value pairs. The guest tests
// drive it opposite the gadget printer to see the library through the real
// kernel driver. Every line ends with open=N: how many of the printer driver's
// nodes this process still holds after the call.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "veltport.h"

namespace {

struct Library {
    void* handle = nullptr;
    WriteToUsbPortFn write = nullptr;
    ReadFromUsbPortFn read = nullptr;
    GetDeviceIDFn device_id = nullptr;
    int(VELTPORT_CALL* model)(char*) = nullptr;
    int(VELTPORT_CALL* vendor)(uint16_t*) = nullptr;
    int(VELTPORT_CALL* control_port)(char*, uint32_t) = nullptr;
    int(VELTPORT_CALL* write_port)(char*, uint32_t) = nullptr;
    int(VELTPORT_CALL* read_port)(char*, uint32_t) = nullptr;
    ~Library() {
        if (handle != nullptr) dlclose(handle);
    }
};

template <class F>
bool bind(void* handle, const char* name, F& out) {
    out = reinterpret_cast<F>(dlsym(handle, name));
    if (out == nullptr) std::fprintf(stderr, "veltport-probe: no export %s\n", name);
    return out != nullptr;
}

bool load(Library& lib) {
    const char* path = std::getenv("VELTPORT_PROBE_LIBRARY");
    lib.handle = dlopen(path != nullptr ? path : "./libveltport.so", RTLD_NOW | RTLD_LOCAL);
    if (lib.handle == nullptr) {
        std::fprintf(stderr, "veltport-probe: %s\n", dlerror());
        return false;
    }
    return bind(lib.handle, "WriteToUsbPort", lib.write) && bind(lib.handle, "ReadFromUsbPort", lib.read) &&
           bind(lib.handle, "GetDeviceID", lib.device_id) && bind(lib.handle, "GetModelName", lib.model) &&
           bind(lib.handle, "GetVendorID", lib.vendor) && bind(lib.handle, "GetControlPortName", lib.control_port) &&
           bind(lib.handle, "GetWritePortName", lib.write_port) && bind(lib.handle, "GetReadPortName", lib.read_port);
}

// The printer driver's nodes among this process's open files.
int open_nodes() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (const dirent* entry = readdir(dir)) {
        char link[300];
        char target[256];
        std::snprintf(link, sizeof link, "/proc/self/fd/%s", entry->d_name);
        const ssize_t n = readlink(link, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        if (std::strncmp(target, "/dev/usb/lp", 11) == 0) ++count;
    }
    closedir(dir);
    return count;
}

void print_hex(const unsigned char* bytes, std::uint32_t n) {
    std::printf(" bytes=");
    for (std::uint32_t i = 0; i < n; ++i) std::printf("%s%02X", i == 0 ? "" : ":", bytes[i]);
}

bool read_file(const char* path, std::vector<unsigned char>& out) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char buf[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
    close(fd);
    return n == 0;
}

bool hex_bytes(const char* text, std::vector<unsigned char>& out) {
    const std::size_t length = std::strlen(text);
    if (length % 2 != 0) return false;
    for (std::size_t i = 0; i < length; i += 2) {
        char pair[3] = {text[i], text[i + 1], '\0'};
        char* end = nullptr;
        const unsigned long value = std::strtoul(pair, &end, 16);
        if (*end != '\0') return false;
        out.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

int do_write(Library& lib, const std::vector<unsigned char>& data) {
    std::uint32_t written = 0;
    const int result = lib.write(data.data(), static_cast<std::uint32_t>(data.size()), &written, "10000");
    std::printf("write result=%d written=%u", result, written);
    return result;
}

int do_read(Library& lib, std::uint32_t length) {
    std::vector<unsigned char> buf(length);
    std::uint32_t got = 0;
    const int result = lib.read(buf.data(), length, &got, "1000");
    std::printf("read result=%d count=%u", result, got);
    print_hex(buf.data(), std::min(got, length));
    return result;
}

void usage() {
    std::fputs(
        "usage: veltport-probe STEP [+ STEP]...   (the steps run in one process)\n"
        "  device-id [CAPACITY]   GetDeviceID\n"
        "  model                  GetModelName\n"
        "  vendor                 GetVendorID\n"
        "  ports                  GetControlPortName, GetWritePortName, GetReadPortName\n"
        "  write HEX              WriteToUsbPort of those bytes\n"
        "  write-file FILE        WriteToUsbPort of the whole file in one call\n"
        "  read LENGTH            ReadFromUsbPort\n"
        "  pause MS               waits\n"
        "  stream FILE            the file in 8192-byte WriteToUsbPort calls until one fails\n",
        stderr);
}

constexpr int kUsage = -1;

// One step: prints its line (without open=N) and returns the export's result
// (0 = success), or kUsage.
int step(Library& lib, const std::vector<std::string>& args) {
    const std::string& command = args[0];
    const std::size_t argc = args.size();
    if (command == "device-id") {
        std::vector<char> buf(4096, '\x7f');
        std::uint32_t capacity = argc > 1 ? static_cast<std::uint32_t>(std::strtoul(args[1].c_str(), nullptr, 0)) : 4096;
        if (capacity > buf.size()) capacity = static_cast<std::uint32_t>(buf.size());
        const int ok = lib.device_id(buf.data(), &capacity);
        std::printf("device-id ok=%d capacity=%u length=%zu text=%s", ok, capacity,
                    ok ? std::strlen(buf.data()) : 0, ok ? buf.data() : "");
        return ok ? 0 : 1;
    }
    if (command == "model") {
        std::vector<char> buf(4096, '\0');
        const int ok = lib.model(buf.data());
        std::printf("model ok=%d text=%s", ok, ok ? buf.data() : "");
        return ok ? 0 : 1;
    }
    if (command == "vendor") {
        uint16_t vendor = 0;
        const int ok = lib.vendor(&vendor);
        std::printf("vendor ok=%d vendor=0x%04x", ok, vendor);
        return ok ? 0 : 1;
    }
    if (command == "ports") {
        char control[512] = {};
        char write[512] = {};
        char read[512] = {};
        const int a = lib.control_port(control, sizeof control);
        const int b = lib.write_port(write, sizeof write);
        const int c = lib.read_port(read, sizeof read);
        std::printf("ports ok=%d%d%d control=%s write=%s read=%s", a, b, c, control, write, read);
        return a && b && c ? 0 : 1;
    }
    std::vector<unsigned char> data;
    if (command == "write" && argc > 1) {
        if (!hex_bytes(args[1].c_str(), data)) return kUsage;
        return do_write(lib, data);
    }
    if (command == "write-file" && argc > 1) {
        if (!read_file(args[1].c_str(), data)) return kUsage;
        return do_write(lib, data);
    }
    if (command == "read" && argc > 1) {
        return do_read(lib, static_cast<std::uint32_t>(std::strtoul(args[1].c_str(), nullptr, 0)));
    }
    if (command == "pause" && argc > 1) {
        usleep(static_cast<useconds_t>(std::strtoul(args[1].c_str(), nullptr, 0) * 1000));
        std::printf("pause");
        return 0;
    }
    if (command == "stream" && argc > 1) {
        if (!read_file(args[1].c_str(), data)) return kUsage;
        std::size_t sent = 0;
        std::uint32_t blocks = 0;
        int result = 0;
        std::uint32_t written = 0;
        while (sent < data.size()) {
            const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(8192, data.size() - sent));
            written = 0;
            result = lib.write(data.data() + sent, length, &written, "10000");
            if (result != 0) break;
            sent += length;
            ++blocks;
        }
        std::printf("stream result=%d blocks=%u sent=%zu last_written=%u", result, blocks, sent, written);
        return result;
    }
    usage();
    return kUsage;
}

}  // namespace

// Steps are separated by "+" and run in one process, so that the library keeps
// its state between them as it does in the program.
int main(int argc, char** argv) {
    if (argc < 2) {
        usage();
        return 2;
    }
    Library lib;
    if (!load(lib)) return 2;
    int status = 0;
    std::vector<std::string> args;
    for (int i = 1; i <= argc; ++i) {
        if (i < argc && std::strcmp(argv[i], "+") != 0) {
            args.emplace_back(argv[i]);
            continue;
        }
        if (args.empty()) continue;
        const int result = step(lib, args);
        if (result == kUsage) return 2;
        std::printf(" open=%d\n", open_nodes());
        std::fflush(stdout);
        if (result != 0) status = 1;
        args.clear();
    }
    return status;
}
