#include "sim/printer/virtual_printer.h"

#include <algorithm>
#include <array>
#include <utility>

namespace fwup::sim {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kStart = 0xA5;
constexpr std::array<std::uint8_t, 3> kFixed{0x50, 0xE0, 0x82};
constexpr std::uint8_t kDownload = 0x05;
constexpr std::uint8_t kVersionQuery = 0x06;
constexpr std::uint8_t kDemoDownload = 0x07;
// Bytes after the count field: the fixed bytes, the function and its parameter.
constexpr std::size_t kPlainBody = 4;
constexpr std::size_t kDemoBody = 8;
// Larger counts are taken for noise rather than a command to wait for.
constexpr std::size_t kMaxBody = 64;
constexpr std::size_t kVersionField = 3;

}  // namespace

VirtualPrinter::VirtualPrinter(PrinterConfig config)
    : config_(std::move(config)),
      identify_failures_left_(config_.device_id_failures),
      short_replies_left_(config_.short_replies) {}

std::optional<std::string> VirtualPrinter::identify() {
    restart_after_flash();
    if (silent_) return std::nullopt;
    if (identify_failures_left_ > 0) {
        --identify_failures_left_;
        return std::nullopt;
    }
    return config_.device_id;
}

std::size_t VirtualPrinter::receive(const std::uint8_t* data, std::size_t length) {
    std::size_t taken = 0;
    while (taken < length) {
        if (!data_mode_) {
            take_command_byte(data[taken++]);
            continue;
        }
        std::uint64_t wanted = length - taken;
        if (demo_bytes_left_) wanted = std::min(wanted, *demo_bytes_left_);
        std::uint64_t accepted = wanted;
        if (config_.fail_write_after) {
            const std::uint64_t limit = *config_.fail_write_after;
            const std::uint64_t room = image_bytes_ < limit ? limit - image_bytes_ : 0;
            accepted = std::min(wanted, room);
        }
        accept_image(data + taken, static_cast<std::size_t>(accepted));
        taken += static_cast<std::size_t>(accepted);
        if (accepted < wanted) {
            image_refused_ = true;
            return taken;
        }
        if (demo_bytes_left_) {
            *demo_bytes_left_ -= accepted;
            if (*demo_bytes_left_ == 0) leave_data_mode();
        }
    }
    return taken;
}

std::size_t VirtualPrinter::read_reply(std::uint8_t* buf, std::size_t capacity) {
    if (pending_reply_.empty() || silent_) return 0;
    if (short_replies_left_ > 0) {
        --short_replies_left_;
        const std::size_t count = std::min(capacity, pending_reply_.size() - 1);
        std::copy_n(pending_reply_.begin(), count, buf);
        return count;
    }
    const std::size_t count = std::min(capacity, pending_reply_.size());
    std::copy_n(pending_reply_.begin(), count, buf);
    // A reply is read in one piece; whatever did not fit is gone.
    pending_reply_.clear();
    return count;
}

void VirtualPrinter::on_command(std::function<void(const std::vector<std::uint8_t>&)> observer) {
    command_observer_ = std::move(observer);
}

void VirtualPrinter::set_image_sink(std::function<void(const std::uint8_t*, std::size_t)> sink) {
    image_sink_ = std::move(sink);
}

void VirtualPrinter::take_command_byte(std::uint8_t byte) {
    partial_command_.push_back(byte);
    for (;;) {
        switch (check_partial_command()) {
            case Frame::Incomplete:
                return;
            case Frame::Complete: {
                std::vector<std::uint8_t> command;
                command.swap(partial_command_);
                execute(command);
                return;
            }
            case Frame::Invalid:
                resynchronise();
                break;
        }
    }
}

VirtualPrinter::Frame VirtualPrinter::check_partial_command() const {
    const std::vector<std::uint8_t>& p = partial_command_;
    if (p.empty()) return Frame::Incomplete;
    std::size_t start = 0;
    if (p[0] == kEsc) {
        if (p.size() == 1) return Frame::Incomplete;
        start = 1;
    }
    if (p[start] != kStart) return Frame::Invalid;
    const std::size_t count_end = start + 3;
    if (p.size() < count_end) return Frame::Incomplete;
    const std::size_t body = static_cast<std::size_t>(p[start + 1] << 8 | p[start + 2]);
    if (body < kPlainBody || body > kMaxBody) return Frame::Invalid;
    for (std::size_t i = 0; i < kFixed.size() && count_end + i < p.size(); ++i) {
        if (p[count_end + i] != kFixed[i]) return Frame::Invalid;
    }
    return p.size() < count_end + body ? Frame::Incomplete : Frame::Complete;
}

// Drops the byte that began the broken frame and everything up to the next
// byte that could begin a command.
void VirtualPrinter::resynchronise() {
    auto next = std::find_if(partial_command_.begin() + 1, partial_command_.end(),
                             [](std::uint8_t b) { return b == kStart || b == kEsc; });
    skipped_bytes_ += static_cast<std::uint64_t>(next - partial_command_.begin());
    partial_command_.erase(partial_command_.begin(), next);
}

void VirtualPrinter::execute(const std::vector<std::uint8_t>& command) {
    commands_.push_back(command);
    if (command_observer_) command_observer_(command);

    const std::size_t start = command[0] == kEsc ? 1 : 0;
    const std::size_t body = command.size() - start - 3;
    const std::uint8_t function = command[start + 6];
    const bool esc = config_.esc != 0;
    const std::size_t version_length = esc ? 11 : 10;
    const std::size_t download_length = esc ? 9 : 8;

    if (function == kVersionQuery && body == kPlainBody) {
        std::array<std::uint8_t, kVersionField> field{};
        const std::size_t n = std::min(config_.version.size(), field.size());
        std::copy_n(config_.version.begin(), n, field.begin());
        set_reply(function, version_length, field.data(), field.size());
    } else if (function == kDownload && body == kPlainBody) {
        set_reply(function, download_length, &config_.download_status, 1);
        data_mode_ = config_.download_status == 0;
    } else if (function == kDemoDownload && body == kDemoBody) {
        const std::uint8_t* size = &command[start + 7];
        demo_size_ = static_cast<std::uint32_t>(size[0]) << 24 |
                     static_cast<std::uint32_t>(size[1]) << 16 |
                     static_cast<std::uint32_t>(size[2]) << 8 | size[3];
        set_reply(function, download_length, &config_.demo_status, 1);
        data_mode_ = config_.demo_status == 0;
        if (data_mode_) {
            demo_bytes_left_ = *demo_size_;
            if (*demo_size_ == 0) leave_data_mode();
        }
    }
    // Any other well-formed command is recorded and left unanswered.
}

// A reply echoes the command's header (with ESC in front in the ESC variant)
// and ends with the answer field, so that the field's last byte is at L - 1.
void VirtualPrinter::set_reply(std::uint8_t function, std::size_t length, const std::uint8_t* field,
                               std::size_t field_length) {
    std::vector<std::uint8_t> reply;
    reply.reserve(length);
    if (config_.esc != 0) reply.push_back(kEsc);
    const std::size_t follows = length - reply.size() - 3;
    reply.push_back(kStart);
    reply.push_back(static_cast<std::uint8_t>(follows >> 8));
    reply.push_back(static_cast<std::uint8_t>(follows & 0xFF));
    reply.insert(reply.end(), kFixed.begin(), kFixed.end());
    reply.push_back(function);
    reply.insert(reply.end(), field, field + field_length);
    pending_reply_ = std::move(reply);
}

void VirtualPrinter::leave_data_mode() {
    data_mode_ = false;
    demo_bytes_left_.reset();
}

// Only a firmware download that took every byte the host sent is flashed;
// a demo image leaves data mode by its announced size instead.
void VirtualPrinter::restart_after_flash() {
    if (!data_mode_ || demo_bytes_left_ || !config_.version_after_upgrade || image_bytes_ == 0 || image_refused_) {
        return;
    }
    leave_data_mode();
    config_.version = *config_.version_after_upgrade;
    silent_ = !config_.answers_after_upgrade;
}

void VirtualPrinter::accept_image(const std::uint8_t* data, std::size_t length) {
    if (length == 0) return;
    image_bytes_ += length;
    if (digest_enabled_) image_digest_.update(data, length);
    if (image_sink_) image_sink_(data, length);
}

std::string VirtualPrinter::image_sha256() const { return digest_enabled_ ? image_digest_.hex_digest() : std::string(); }

}  // namespace fwup::sim
