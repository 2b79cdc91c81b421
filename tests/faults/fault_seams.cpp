#include "tests/faults/fault_seams.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <utility>

#include "core/transfer/command_set.h"
#include "core/transfer/transfer_block.h"

namespace fwup::faults {

bool FaultPlan::fault(std::string_view name) {
    ++calls;
    trace.emplace_back(name);
    std::uint64_t number = calls;
    if (!only.empty()) {
        if (name != only) return false;
        number = ++named_calls;
    }
    const bool fails = at != 0 && (number == at || (sticky && number > at));
    if (fails) failed.emplace_back(name);
    return fails;
}

namespace {

class FaultingPort final : public ParallelPort {
public:
    FaultingPort(std::unique_ptr<ParallelPort> inner, FaultPlan& plan) : inner_(std::move(inner)), plan_(plan) {}

    bool get_timeouts(CommTimeouts& out) override {
        if (plan_.fault("lpt.get_timeouts")) return false;
        return inner_->get_timeouts(out);
    }
    bool set_timeouts(const CommTimeouts& in) override {
        if (plan_.fault("lpt.set_timeouts")) return false;
        return inner_->set_timeouts(in);
    }
    bool query_device_id(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& returned) override {
        if (plan_.fault("lpt.query_device_id")) {
            returned = 0;
            return false;
        }
        return inner_->query_device_id(buf, capacity, returned);
    }
    bool write(const std::uint8_t* data, std::uint32_t length, std::uint32_t& written) override {
        if (plan_.fault("lpt.write")) {
            written = 0;
            if (plan_.mode == FaultMode::Fail || length == 0) return false;
            // A comm write that moved some bytes reports success with the count.
            inner_->write(data, length - 1, written);
            return true;
        }
        return inner_->write(data, length, written);
    }
    bool read(std::uint8_t* buf, std::uint32_t length, std::uint32_t& got) override {
        const bool fails = plan_.fault("lpt.read");
        if (fails && plan_.mode == FaultMode::Fail) {
            got = 0;
            return false;
        }
        const bool ok = inner_->read(buf, length, got);
        if (fails && got > 0) --got;  // the reply's last byte is lost
        return ok;
    }
    std::string last_error_text() override { return inner_->last_error_text(); }

private:
    std::unique_ptr<ParallelPort> inner_;
    FaultPlan& plan_;
};

class FaultingImage final : public ImageFile {
public:
    FaultingImage(std::unique_ptr<ImageFile> inner, FaultPlan& plan) : inner_(std::move(inner)), plan_(plan) {}

    std::uint64_t size() override { return inner_->size(); }
    bool read(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& got) override {
        if (plan_.fault("image.read")) {
            got = 0;
            return plan_.mode == FaultMode::Short;  // an early end of file, or a read error
        }
        return inner_->read(buf, capacity, got);
    }

private:
    std::unique_ptr<ImageFile> inner_;
    FaultPlan& plan_;
};

// The bound library behind the plain-function exports below.
struct UsbBinding {
    FaultPlan* plan = nullptr;
    GetDeviceIDFn get_device_id = nullptr;
    WriteToUsbPortFn write = nullptr;
    ReadFromUsbPortFn read = nullptr;
};
UsbBinding g_usb;

int VELTPORT_CALL faulting_get_device_id(char* buffer, std::uint32_t* capacity) {
    const int result = g_usb.plan->fault("usb.get_device_id") ? 0 : g_usb.get_device_id(buffer, capacity);
    g_usb.plan->device_id_answers.push_back(result);
    return result;
}

int VELTPORT_CALL faulting_write(const unsigned char* data, std::uint32_t length, std::uint32_t* written,
                                 const char* timeout) {
    if (g_usb.plan->fault("usb.write")) {
        if (written != nullptr) *written = 0;
        if (g_usb.plan->mode == FaultMode::Fail || length == 0) return VELTPORT_TRANSFER_FAILED;
        // The pipe took all but the last byte: the library's answer to a short write.
        g_usb.write(data, length - 1, written, timeout);
        return VELTPORT_TRANSFER_FAILED;
    }
    return g_usb.write(data, length, written, timeout);
}

int VELTPORT_CALL faulting_read(unsigned char* buffer, std::uint32_t length, std::uint32_t* got,
                                const char* timeout) {
    const bool fails = g_usb.plan->fault("usb.read");
    if (fails && g_usb.plan->mode == FaultMode::Fail) {
        if (got != nullptr) *got = 0;
        return VELTPORT_TRANSFER_FAILED;
    }
    const int result = g_usb.read(buffer, length, got, timeout);
    if (fails && got != nullptr && *got > 0) --*got;
    return result;
}

class FaultingLibrary final : public LoadedLibrary {
public:
    explicit FaultingLibrary(std::unique_ptr<LoadedLibrary> inner) : inner_(std::move(inner)) {
        g_usb.get_device_id = reinterpret_cast<GetDeviceIDFn>(inner_->find_export("GetDeviceID"));
        g_usb.write = reinterpret_cast<WriteToUsbPortFn>(inner_->find_export("WriteToUsbPort"));
        g_usb.read = reinterpret_cast<ReadFromUsbPortFn>(inner_->find_export("ReadFromUsbPort"));
    }

    ExportAddress find_export(const char* name) override {
        const std::string wanted = name == nullptr ? "" : name;
        ExportAddress real = inner_->find_export(name);
        if (real == nullptr) return nullptr;
        if (wanted == "GetDeviceID") return reinterpret_cast<ExportAddress>(&faulting_get_device_id);
        if (wanted == "WriteToUsbPort") return reinterpret_cast<ExportAddress>(&faulting_write);
        if (wanted == "ReadFromUsbPort") return reinterpret_cast<ExportAddress>(&faulting_read);
        return real;
    }

private:
    std::unique_ptr<LoadedLibrary> inner_;
};

}  // namespace

std::unique_ptr<ParallelPort> FaultingPorts::open(std::string_view name, PortAccess access) {
    if (plan_.fault("lpt.open")) return nullptr;
    std::unique_ptr<ParallelPort> port = inner_.open(name, access);
    if (!port) return nullptr;
    return std::make_unique<FaultingPort>(std::move(port), plan_);
}

std::unique_ptr<ImageFile> FaultingImages::open(const std::string& path) {
    if (plan_.fault("image.open")) return nullptr;
    std::unique_ptr<ImageFile> file = inner_.open(path);
    if (!file) return nullptr;
    return std::make_unique<FaultingImage>(std::move(file), plan_);
}

FaultingLibraryLoader::FaultingLibraryLoader(LibraryLoader& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {
    g_usb = UsbBinding{&plan_};
}

FaultingLibraryLoader::~FaultingLibraryLoader() { g_usb = UsbBinding{}; }

std::unique_ptr<LoadedLibrary> FaultingLibraryLoader::load(const std::string& path) {
    std::unique_ptr<LoadedLibrary> library = inner_.load(path);
    if (!library) return nullptr;
    return std::make_unique<FaultingLibrary>(std::move(library));
}

// ---------------------------------------------------------------------------
// Transfer blocks: the program's operator new[] and delete[] (plain and
// aligned) count the arrays of the transfer block's allocation size. A handful of slots is plenty, since a run
// holds at most one block; more than that is itself a finding.

namespace {

std::array<void*, 16> g_blocks{};
std::int64_t g_live_blocks = 0;
std::int64_t g_blocks_allocated = 0;

void note_allocated(void* p, std::size_t size) {
    if (size != kTransferBlockAllocation) return;
    ++g_blocks_allocated;
    ++g_live_blocks;
    for (void*& slot : g_blocks) {
        if (slot == nullptr) {
            slot = p;
            break;
        }
    }
}

void* allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    note_allocated(p, size);
    return p;
}

// aligned_alloc wants a size that is a multiple of the alignment.
void* allocate_aligned(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    void* p = std::aligned_alloc(align, (std::max<std::size_t>(size, 1) + align - 1) / align * align);
    if (p == nullptr) throw std::bad_alloc();
    note_allocated(p, size);
    return p;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    for (void*& slot : g_blocks) {
        if (slot == p) {
            slot = nullptr;
            --g_live_blocks;
            break;
        }
    }
    std::free(p);
}

}  // namespace

std::int64_t live_transfer_blocks() { return g_live_blocks; }
std::int64_t transfer_blocks_allocated() { return g_blocks_allocated; }

}  // namespace fwup::faults

void* operator new[](std::size_t size) { return fwup::faults::allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return fwup::faults::allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete[](void* p) noexcept { fwup::faults::release(p); }
void operator delete[](void* p, std::size_t) noexcept { fwup::faults::release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { fwup::faults::release(p); }
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return fwup::faults::allocate_aligned(size, alignment);
}
void operator delete[](void* p, std::align_val_t) noexcept { fwup::faults::release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { fwup::faults::release(p); }
