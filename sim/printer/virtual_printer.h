#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/digest/sha256.h"

namespace fwup::sim {

// How a virtual printer behaves. Defaults describe a healthy printer that
// speaks the plain (non-ESC) reply variant and accepts every download.
struct PrinterConfig {
    std::string device_id = "MFG:Virtual;CMD:PJL;MODEL:Virtual Printer;CLS:PRINTER;";
    std::uint16_t vendor_id = 0x043D;
    // The version field's characters (at most three; fewer are padded with zero bytes).
    std::string version = "100";
    // Reply variant: 0 plain, 1 ESC (replies one byte longer).
    int esc = 0;
    std::uint8_t download_status = 0;
    std::uint8_t demo_status = 0;
    // The first N identification queries answer nothing.
    std::uint32_t device_id_failures = 0;
    // The first N reads of a pending reply return one byte fewer than the reply;
    // the reply stays pending, so a later read returns it whole.
    std::uint32_t short_replies = 0;
    // Image bytes accepted before every further data write fails; empty = never.
    std::optional<std::uint64_t> fail_write_after;
    // A firmware image taken whole is written to flash, and the printer has
    // restarted by the time it is next asked for its identification: it then
    // takes commands again and reports this version. Empty: it never restarts
    // and keeps taking whatever follows as image bytes.
    std::optional<std::string> version_after_upgrade;
    // False: once restarted, the printer answers nothing (the flash went wrong).
    bool answers_after_upgrade = true;
};

// The printer's side of the command set, independent of the carrier. The LPT
// and USB simulations feed it the bytes the host writes and hand the host the
// replies it reads.
class VirtualPrinter {
public:
    explicit VirtualPrinter(PrinterConfig config = {});

    const PrinterConfig& config() const { return config_; }

    // The IEEE 1284 identification text, or nothing while configured failures remain.
    std::optional<std::string> identify();

    // Host to printer. Returns the number of bytes the printer took; fewer than
    // `length` means the write failed part-way (only image data can fail).
    std::size_t receive(const std::uint8_t* data, std::size_t length);

    // Printer to host: copies up to `capacity` bytes of the pending reply and
    // returns the count (0 when nothing is pending).
    std::size_t read_reply(std::uint8_t* buf, std::size_t capacity);

    // Every complete command received, in order, as its bytes.
    const std::vector<std::vector<std::uint8_t>>& commands() const { return commands_; }
    // Image bytes received after an accepted download command. The printer
    // keeps their count and digest, never the bytes: an image sink sees them.
    std::uint64_t image_bytes() const { return image_bytes_; }
    // SHA-256 of those bytes in hexadecimal (of no bytes before any came);
    // empty when the digest was switched off.
    std::string image_sha256() const;
    bool in_data_mode() const { return data_mode_; }
    // The image size carried by the last demo download command, if any came.
    std::optional<std::uint32_t> demo_size() const { return demo_size_; }
    // Bytes passed over in command mode because they began no valid command.
    std::uint64_t skipped_bytes() const { return skipped_bytes_; }
    // The reply waiting to be read (empty when none).
    const std::vector<std::uint8_t>& pending_reply() const { return pending_reply_; }

    // Observers: called for every complete command, and with every run of image
    // bytes, in order.
    void on_command(std::function<void(const std::vector<std::uint8_t>&)> observer);
    void set_image_sink(std::function<void(const std::uint8_t*, std::size_t)> sink);
    // The digest costs about as much per byte as reading the image; the
    // benchmarks switch it off to measure the program rather than the hash.
    void set_image_digest(bool enabled) { digest_enabled_ = enabled; }

private:
    enum class Frame { Incomplete, Complete, Invalid };
    void take_command_byte(std::uint8_t byte);
    Frame check_partial_command() const;
    void resynchronise();
    void execute(const std::vector<std::uint8_t>& command);
    void set_reply(std::uint8_t function, std::size_t length, const std::uint8_t* field,
                   std::size_t field_length);
    void leave_data_mode();
    void accept_image(const std::uint8_t* data, std::size_t length);
    void restart_after_flash();

    PrinterConfig config_;
    std::vector<std::vector<std::uint8_t>> commands_;
    std::vector<std::uint8_t> partial_command_;
    std::vector<std::uint8_t> pending_reply_;
    std::uint64_t image_bytes_ = 0;
    Sha256 image_digest_;
    bool digest_enabled_ = true;
    std::uint32_t identify_failures_left_ = 0;
    std::uint32_t short_replies_left_ = 0;
    bool data_mode_ = false;
    bool image_refused_ = false;  // a data write failed: the image is not whole
    bool silent_ = false;         // restarted from a flash that went wrong
    std::optional<std::uint32_t> demo_size_;
    // A demo download announces its size; after that many bytes the printer
    // takes commands again. A firmware download keeps taking image bytes.
    std::optional<std::uint64_t> demo_bytes_left_;
    std::uint64_t skipped_bytes_ = 0;
    std::function<void(const std::vector<std::uint8_t>&)> command_observer_;
    std::function<void(const std::uint8_t*, std::size_t)> image_sink_;
};

}  // namespace fwup::sim
