#include "adapters/win32/win32_parallel_ports.h"

#include <windows.h>

#include <string>

#include "adapters/win32/win32_error.h"

namespace fwup {

namespace {

// The parallel driver's request for the attached printer's IEEE 1284 device ID,
// as the printers this program serves expect it.
constexpr DWORD kQueryDeviceIdCode = 17;

class Win32ParallelPort final : public ParallelPort {
public:
    explicit Win32ParallelPort(HANDLE handle) : handle_(handle) {}
    Win32ParallelPort(const Win32ParallelPort&) = delete;
    Win32ParallelPort& operator=(const Win32ParallelPort&) = delete;
    ~Win32ParallelPort() override { CloseHandle(handle_); }

    bool get_timeouts(CommTimeouts& out) override {
        COMMTIMEOUTS t{};
        if (!GetCommTimeouts(handle_, &t)) return failed();
        out.read_interval = t.ReadIntervalTimeout;
        out.read_total_multiplier = t.ReadTotalTimeoutMultiplier;
        out.read_total_constant = t.ReadTotalTimeoutConstant;
        out.write_total_multiplier = t.WriteTotalTimeoutMultiplier;
        out.write_total_constant = t.WriteTotalTimeoutConstant;
        return true;
    }

    bool set_timeouts(const CommTimeouts& in) override {
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = in.read_interval;
        t.ReadTotalTimeoutMultiplier = in.read_total_multiplier;
        t.ReadTotalTimeoutConstant = in.read_total_constant;
        t.WriteTotalTimeoutMultiplier = in.write_total_multiplier;
        t.WriteTotalTimeoutConstant = in.write_total_constant;
        return SetCommTimeouts(handle_, &t) ? true : failed();
    }

    bool query_device_id(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& returned) override {
        // A driver whose answer does not fit fails the call with ERROR_MORE_DATA
        // and still reports the bytes it stored; the count goes back either way.
        DWORD count = 0;
        const BOOL ok = DeviceIoControl(handle_, kQueryDeviceIdCode, nullptr, 0, buf, capacity, &count, nullptr);
        returned = count;
        return ok ? true : failed();
    }

    bool write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) override {
        DWORD count = 0;
        const BOOL ok = WriteFile(handle_, data, length, &count, nullptr);
        written = count;
        return ok ? true : failed();
    }

    bool read(std::uint8_t* buf, std::uint32_t length, std::uint32_t& got) override {
        DWORD count = 0;
        const BOOL ok = ReadFile(handle_, buf, length, &count, nullptr);
        got = count;
        return ok ? true : failed();
    }

    std::string last_error_text() override { return system_error_text(last_error_); }

private:
    // Keeps the error at once: later calls on this thread may overwrite it.
    bool failed() {
        last_error_ = GetLastError();
        return false;
    }

    HANDLE handle_;
    DWORD last_error_ = ERROR_SUCCESS;
};

}  // namespace

std::unique_ptr<ParallelPort> Win32ParallelPorts::open(std::string_view name, PortAccess access) {
    const std::string path(name);
    const DWORD desired = access == PortAccess::ReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    HANDLE handle = CreateFileA(path.c_str(), desired, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32ParallelPort>(handle);
}

}  // namespace fwup
