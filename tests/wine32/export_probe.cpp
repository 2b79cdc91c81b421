// export_probe.exe: loads veltport.dll from its own folder the way the upgrade
// program does (LoadLibraryA, GetProcAddress by plain name) and calls every
// export once, twice over: through the program's own function types from
// veltport.h, and through types spelled here with the library's calling
// convention, __stdcall. Around each call it reads the stack pointer: when the
// caller and the callee disagree on who removes the arguments, it moves by
// their size, which the 64-bit build, with one convention only, cannot show.
//
// Prints one line per call, "NAME(ARGS) = RESULT [details]", and the stack
// pointer's move when there is one. Exit status 0 when the stack never moved,
// 1 when it did or the library or an export is missing.
//
// Built without optimisation and with the frame pointer, so that a moved
// stack pointer is measured and survived (locals are reached through the frame
// pointer, which the function's epilogue restores the stack from).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "veltport.h"

#if !defined(__i386__)
#error "export_probe checks the 32-bit calling convention; build it for i686"
#endif

namespace {

// The library's convention, spelled out rather than taken from the header.
namespace contract {
using WriteToUsbPort = int(__stdcall*)(const unsigned char*, uint32_t, uint32_t*, const char*);
using ReadFromUsbPort = int(__stdcall*)(unsigned char*, uint32_t, uint32_t*, const char*);
using GetDeviceID = int(__stdcall*)(char*, uint32_t*);
using GetModelName = int(__stdcall*)(char*);
using GetVendorID = int(__stdcall*)(uint16_t*);
using PortName = int(__stdcall*)(char*, uint32_t);
using DllMain = BOOL(__stdcall*)(HINSTANCE, DWORD, LPVOID);
}  // namespace contract

// What the program binds, from the header: its typedefs where it has them,
// else the type of the header's declaration.
namespace program {
using WriteToUsbPort = WriteToUsbPortFn;
using ReadFromUsbPort = ReadFromUsbPortFn;
using GetDeviceID = GetDeviceIDFn;
using GetModelName = decltype(&::GetModelName);
using GetVendorID = decltype(&::GetVendorID);
using GetControlPortName = decltype(&::GetControlPortName);
using GetWritePortName = decltype(&::GetWritePortName);
using GetReadPortName = decltype(&::GetReadPortName);
}  // namespace program

int moved_calls = 0;

// Calls `function` and returns its result; `moved` gets how far the stack
// pointer ended up from where it was before the arguments went on.
template <class Function, class... Args>
int measured(long& moved, Function function, Args... args) {
    std::uintptr_t before = 0;
    std::uintptr_t after = 0;
    asm volatile("movl %%esp, %0" : "=r"(before)::"memory");
    const int result = static_cast<int>(function(args...));
    asm volatile("movl %%esp, %0" : "=r"(after)::"memory");
    moved = static_cast<long>(after) - static_cast<long>(before);
    return result;
}

void report(const char* call, const char* through, int result, long moved, const char* details = "") {
    std::printf("%s = %d%s (%s)", call, result, details, through);
    if (moved != 0) {
        std::printf(": the stack pointer moved by %ld bytes", moved);
        ++moved_calls;
    }
    std::printf("\n");
}

template <class Function>
Function bind(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The same calls through either set of types. With no printer attached every
// identification answers 0 and every transfer VELTPORT_NO_PRINTER; the texts
// the library prints on standard output come between the lines.
template <class Write, class Read, class DeviceId, class Model, class Vendor, class Control, class WritePort,
          class ReadPort>
bool call_all(HMODULE library, const char* through) {
    const auto write = bind<Write>(library, "WriteToUsbPort");
    const auto read = bind<Read>(library, "ReadFromUsbPort");
    const auto device_id = bind<DeviceId>(library, "GetDeviceID");
    const auto model = bind<Model>(library, "GetModelName");
    const auto vendor = bind<Vendor>(library, "GetVendorID");
    const auto control = bind<Control>(library, "GetControlPortName");
    const auto write_port = bind<WritePort>(library, "GetWritePortName");
    const auto read_port = bind<ReadPort>(library, "GetReadPortName");
    if (!write || !read || !device_id || !model || !vendor || !control || !write_port || !read_port) {
        std::printf("export_probe: an export is missing\n");
        return false;
    }
    long moved = 0;
    char text[4096] = {};
    uint32_t capacity = sizeof text;
    int result = measured(moved, device_id, text, &capacity);
    report("GetDeviceID(buffer, &capacity)", through, result, moved);
    result = measured(moved, device_id, text, static_cast<uint32_t*>(nullptr));
    report("GetDeviceID(buffer, null)", through, result, moved);
    result = measured(moved, model, text);
    report("GetModelName(buffer)", through, result, moved);
    uint16_t vendor_id = 0x1234;
    result = measured(moved, vendor, &vendor_id);
    char details[64];
    std::snprintf(details, sizeof details, ", vendor 0x%04x", static_cast<unsigned>(vendor_id));
    report("GetVendorID(&vendor)", through, result, moved, details);
    result = measured(moved, control, text, static_cast<uint32_t>(sizeof text));
    report("GetControlPortName(buffer, size)", through, result, moved);
    result = measured(moved, write_port, text, static_cast<uint32_t>(sizeof text));
    report("GetWritePortName(buffer, size)", through, result, moved);
    result = measured(moved, read_port, text, static_cast<uint32_t>(sizeof text));
    report("GetReadPortName(buffer, size)", through, result, moved);
    const unsigned char data[4] = {0x1B, 0x40, 0x00, 0x00};
    uint32_t count = 77;
    result = measured(moved, write, data, static_cast<uint32_t>(sizeof data), &count, "1000");
    std::snprintf(details, sizeof details, ", count %u", static_cast<unsigned>(count));
    report("WriteToUsbPort(data, 4, &written, \"1000\")", through, result, moved, details);
    unsigned char reply[64] = {};
    count = 77;
    result = measured(moved, read, reply, static_cast<uint32_t>(sizeof reply), &count, "1000");
    std::snprintf(details, sizeof details, ", count %u", static_cast<unsigned>(count));
    report("ReadFromUsbPort(buffer, 64, &read, \"1000\")", through, result, moved, details);
    return true;
}

}  // namespace

int main() {
    HMODULE library = LoadLibraryA("veltport.dll");
    if (library == nullptr) {
        std::printf("export_probe: veltport.dll does not load (error %lu)\n", GetLastError());
        return 1;
    }
    bool complete = call_all<program::WriteToUsbPort, program::ReadFromUsbPort, program::GetDeviceID,
                             program::GetModelName, program::GetVendorID, program::GetControlPortName,
                             program::GetWritePortName, program::GetReadPortName>(library, "program's types");
    complete = call_all<contract::WriteToUsbPort, contract::ReadFromUsbPort, contract::GetDeviceID,
                        contract::GetModelName, contract::GetVendorID, contract::PortName, contract::PortName,
                        contract::PortName>(library, "__stdcall") &&
               complete;
    const auto entry = bind<contract::DllMain>(library, "DllMain");
    if (entry == nullptr) {
        std::printf("export_probe: DllMain is not exported\n");
        complete = false;
    } else {
        long moved = 0;
        const int result = measured(moved, entry, library, static_cast<DWORD>(DLL_THREAD_ATTACH), nullptr);
        report("DllMain(library, DLL_THREAD_ATTACH, null)", "__stdcall", result, moved);
    }
    std::fflush(stdout);
    FreeLibrary(library);
    return complete && moved_calls == 0 ? 0 : 1;
}
