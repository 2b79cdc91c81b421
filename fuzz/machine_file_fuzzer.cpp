// Any file as a virtual machine file, and then the whole program on the
// machine it describes. The same file also serves as FWINFO.INI (its
// [Download] and model sections) and may steer the run in a [Fuzz] section:
//
//   [Fuzz]
//   ImageSize=20000   ; bytes of the image, made up on the fly (at most 2,000,000)
//   Buttons=VU        ; V verify, U upgrade / download, E exit (at most 6 presses)
//   Answer=1          ; the answer to the confirmation
//   NoImage=0         ; 1: the image file does not exist
//
// Checked beyond the sanitizers: a refused file says why and a read one
// keeps its promises (at most three printers, one per parallel port), and
// after every button the run has closed every port, handle and file it
// opened and removed its wait cursor.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "core/config/profile_reader.h"
#include "core/config/upgrade_settings.h"
#include "core/dialog/upgrade_dialog.h"
#include "sim/machine/machine_config.h"
#include "sim/machine/virtual_machine.h"

namespace {

constexpr std::uint64_t kMaxImage = 2'000'000;

// An image whose bytes are made up as they are read, counted while open.
class SyntheticImages final : public fwup::ImageFiles {
public:
    SyntheticImages(std::string name, std::uint64_t size, bool exists)
        : name_(std::move(name)), size_(size), exists_(exists) {}

    std::unique_ptr<fwup::ImageFile> open(const std::string& path) override {
        if (!exists_ || path != name_) return nullptr;
        return std::make_unique<File>(size_, open_);
    }
    int open_files() const { return open_; }

private:
    class File final : public fwup::ImageFile {
    public:
        File(std::uint64_t size, int& open) : size_(size), open_(open) { ++open_; }
        ~File() override { --open_; }
        File(const File&) = delete;
        File& operator=(const File&) = delete;
        std::uint64_t size() override { return size_; }
        bool read(std::uint8_t* buf, std::uint32_t capacity, std::uint32_t& got) override {
            got = static_cast<std::uint32_t>(std::min<std::uint64_t>(capacity, size_ - offset_));
            for (std::uint32_t i = 0; i < got; ++i) buf[i] = static_cast<std::uint8_t>((offset_ + i) * 31u >> 3);
            offset_ += got;
            return true;
        }

    private:
        std::uint64_t size_;
        std::uint64_t offset_ = 0;
        int& open_;
    };

    std::string name_;
    std::uint64_t size_;
    bool exists_;
    int open_ = 0;
};

// A dialog that remembers only what the checks need.
class QuietDialog final : public fwup::DialogControls {
public:
    explicit QuietDialog(bool answer) : answer_(answer) {}
    void set_title(const std::string&) override {}
    void set_text(int, const std::string&) override {}
    void enable(int, bool) override {}
    void show(int, bool) override {}
    void set_progress_range(std::uint32_t upper) override { FUZZ_REQUIRE(upper <= 0x7FFFFFFFu); }
    void set_progress_pos(std::uint32_t pos) override { FUZZ_REQUIRE(pos <= 0x7FFFFFFFu); }
    void begin_wait_cursor() override { ++wait_cursor; }
    void end_wait_cursor() override { --wait_cursor; }
    bool ask_yes_no(const std::string&, const std::string&) override { return answer_; }
    void message_box(const std::string&, const std::string&, fwup::MessageIcon) override {}
    void end_dialog(int) override { ended = true; }

    int wait_cursor = 0;
    bool ended = false;

private:
    bool answer_;
};

void check_config(const fwup::sim::MachineConfig& config) {
    FUZZ_REQUIRE(config.printers.size() <= 3);
    for (std::size_t i = 0; i < config.printers.size(); ++i) {
        const fwup::sim::PrinterSetup& printer = config.printers[i];
        FUZZ_REQUIRE(printer.lpt >= 0 && printer.lpt <= 3);
        FUZZ_REQUIRE(printer.printer.version.size() <= 3);
        for (std::size_t j = 0; j < i; ++j) FUZZ_REQUIRE(printer.lpt == 0 || config.printers[j].lpt != printer.lpt);
    }
}

void run_program(const fwup::Profile& profile, fwup::sim::MachineConfig config) {
    // Nothing is recorded to disk, and nothing waits in real time.
    config.clock = fwup::sim::ClockKind::Virtual;
    for (fwup::sim::PrinterSetup& printer : config.printers) {
        printer.received_image.clear();
        printer.transcript.clear();
    }
    std::string error;
    const std::unique_ptr<fwup::sim::VirtualMachine> machine = fwup::sim::VirtualMachine::create(config, error);
    FUZZ_REQUIRE(machine != nullptr);

    const fwup::UpgradeSettings settings = fwup::read_upgrade_settings(profile);
    const auto image_size = static_cast<std::uint64_t>(
        std::clamp<std::int64_t>(profile.get_int("Fuzz", "ImageSize", 20000), 0, kMaxImage));
    const std::string buttons = profile.get_string("Fuzz", "Buttons", "VU", 7);
    QuietDialog dialog(profile.get_int("Fuzz", "Answer", 1) != 0);
    SyntheticImages images(settings.firmware_file, image_size, profile.get_int("Fuzz", "NoImage", 0) == 0);
    {
        fwup::UpgradeDialog ui(settings, fwup::detect_platform(machine->os_version()),
                               fwup::DialogServices{machine->parallel_ports(), images, machine->clock(),
                                                    machine->library_loader()});
        if (ui.initialise(dialog)) {
            for (const char button : buttons) {
                if (dialog.ended) break;
                const int id = button == 'V' ? IDC_VERIFY : button == 'U' ? IDC_UPGRADE_NOW : IDC_EXIT;
                ui.on_command(id, dialog);
                FUZZ_REQUIRE(machine->open_lpt_ports() == 0);
                FUZZ_REQUIRE(machine->open_usb_handles() == 0);
                FUZZ_REQUIRE(images.open_files() == 0);
                FUZZ_REQUIRE(dialog.wait_cursor == 0);
            }
        }
    }
    FUZZ_REQUIRE(!machine->library_loaded());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const fwup::Profile profile = fwup::Profile::parse(bytes);
    std::string error = "stale";
    const std::optional<fwup::sim::MachineConfig> config =
        fwup::sim::read_machine_config(profile, "/fuzz/machine.ini", error);
    FUZZ_REQUIRE(config.has_value() == error.empty());
    if (!config) return 0;
    check_config(*config);
    run_program(profile, *config);
    return 0;
}
