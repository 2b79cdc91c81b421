// fwup-gadget-printer: the virtual printer behind the kernel's USB printer
// gadget function. What the host writes through its printer driver arrives at
// /dev/g_printer0 and goes to the virtual printer; its replies go back the same
// way. The gadget's configuration (configfs) is the printer's identity: the
// kernel answers the device-ID and descriptor requests from it, so this program
// only reads it back for its log. The faults are the ones a real bus shows:
// silence, late or split replies, slow data, and unplugging mid-transfer.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/digest/sha256.h"
#include "sim/printer/virtual_printer.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

struct Options {
    std::string device = "/dev/g_printer0";
    std::string gadget;  // configfs folder of the gadget; empty: no identity, no unplug
    std::string received_image;
    std::string report;
    std::string stale;
    fwup::sim::PrinterConfig printer;
    std::uint64_t silent_from = 0;  // commands from this one on get no answer; 0 = all answered
    std::uint32_t reply_delay_ms = 0;
    std::optional<std::size_t> split_at;
    std::uint32_t split_pause_ms = 100;
    std::uint32_t take_delay_ms = 0;
    std::optional<std::uint64_t> unplug_after;
    bool raw = false;  // every byte is image data: a plain copy into the node
};

void usage() {
    std::fputs(
        "usage: fwup-gadget-printer [options]\n"
        "  --device PATH            the gadget's printer node (/dev/g_printer0)\n"
        "  --gadget DIR             the gadget's configfs folder (identity; unplugging)\n"
        "  --version TEXT           the printer's three version characters (100)\n"
        "  --esc N                  reply variant, 0 or 1\n"
        "  --download-status N      status byte answering the download command\n"
        "  --demo-status N          status byte answering the demo download command\n"
        "  --received-image FILE    every image byte is written there (emptied at start)\n"
        "  --report FILE            at the end: commands, image bytes, unplugged\n"
        "  --stale TEXT             bytes queued for the host before anything else\n"
        "  --silent-from N          leaves the Nth command and every later one unanswered\n"
        "  --reply-delay MS         answers this much later\n"
        "  --split-reply N          sends a reply's first N bytes, the rest --split-pause MS later\n"
        "  --take-delay MS          pauses this long after every read of image data\n"
        "  --unplug-after BYTES     unbinds the gadget once this many image bytes arrived\n"
        "  --raw 1                  takes every byte as image data, as a printer already in its\n"
        "                           data phase (a plain copy such as dd): no commands, no replies\n"
        "Runs until SIGTERM or SIGINT, or until it unplugged itself.\n",
        stderr);
}

bool number(const char* text, std::uint64_t& out) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return false;
    out = value;
    return true;
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "fwup-gadget-printer: %s needs a value\n", arg.c_str());
            return std::nullopt;
        }
        const char* value = argv[++i];
        std::uint64_t n = 0;
        const bool numeric = number(value, n);
        auto need_number = [&](std::uint64_t limit) {
            if (!numeric || n > limit) {
                std::fprintf(stderr, "fwup-gadget-printer: %s: not a number up to %llu: %s\n", arg.c_str(),
                             static_cast<unsigned long long>(limit), value);
                return false;
            }
            return true;
        };
        if (arg == "--device") {
            o.device = value;
        } else if (arg == "--gadget") {
            o.gadget = value;
        } else if (arg == "--received-image") {
            o.received_image = value;
        } else if (arg == "--report") {
            o.report = value;
        } else if (arg == "--stale") {
            o.stale = value;
        } else if (arg == "--version") {
            o.printer.version = value;
        } else if (arg == "--esc") {
            if (!need_number(1)) return std::nullopt;
            o.printer.esc = static_cast<int>(n);
        } else if (arg == "--download-status") {
            if (!need_number(255)) return std::nullopt;
            o.printer.download_status = static_cast<std::uint8_t>(n);
        } else if (arg == "--demo-status") {
            if (!need_number(255)) return std::nullopt;
            o.printer.demo_status = static_cast<std::uint8_t>(n);
        } else if (arg == "--silent-from") {
            if (!need_number(UINT64_MAX) || n == 0) return std::nullopt;
            o.silent_from = n;
        } else if (arg == "--reply-delay") {
            if (!need_number(600'000)) return std::nullopt;
            o.reply_delay_ms = static_cast<std::uint32_t>(n);
        } else if (arg == "--split-reply") {
            if (!need_number(4096)) return std::nullopt;
            o.split_at = static_cast<std::size_t>(n);
        } else if (arg == "--split-pause") {
            if (!need_number(600'000)) return std::nullopt;
            o.split_pause_ms = static_cast<std::uint32_t>(n);
        } else if (arg == "--take-delay") {
            if (!need_number(600'000)) return std::nullopt;
            o.take_delay_ms = static_cast<std::uint32_t>(n);
        } else if (arg == "--unplug-after") {
            if (!need_number(UINT64_MAX)) return std::nullopt;
            o.unplug_after = n;
        } else if (arg == "--raw") {
            if (!need_number(1)) return std::nullopt;
            o.raw = n == 1;
        } else {
            std::fprintf(stderr, "fwup-gadget-printer: unknown option %s\n", arg.c_str());
            return std::nullopt;
        }
    }
    return o;
}

std::string read_text(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return {};
    std::string text;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    return text;
}

// The identity the kernel hands the host: the gadget's vendor ID and its
// printer function's IEEE 1284 text.
void read_identity(const std::string& gadget, fwup::sim::PrinterConfig& printer) {
    std::uint64_t vendor = 0;
    if (number(read_text(gadget + "/idVendor").c_str(), vendor) && vendor <= 0xFFFF) {
        printer.vendor_id = static_cast<std::uint16_t>(vendor);
    }
    const std::string functions = gadget + "/functions";
    if (DIR* dir = ::opendir(functions.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strncmp(entry->d_name, "printer.", 8) == 0) {
                printer.device_id = read_text(functions + "/" + entry->d_name + "/pnp_string");
                break;
            }
        }
        ::closedir(dir);
    }
}

bool write_all(int fd, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Unbinding the gadget from its controller is, to the host, pulling the cable.
bool unplug(const std::string& gadget) {
    UniqueFd udc(::open((gadget + "/UDC").c_str(), O_WRONLY | O_CLOEXEC));
    static const std::uint8_t kNone[] = {'\n'};
    return udc && write_all(udc.get(), kNone, sizeof kNone);
}

struct Outgoing {
    Clock::time_point at;
    std::vector<std::uint8_t> bytes;
};

class GadgetPrinter {
public:
    GadgetPrinter(const Options& options, int node, int image)
        : options_(options), node_(node), image_(image), printer_(options.printer) {
        if (image >= 0) {
            printer_.set_image_sink([this](const std::uint8_t* data, std::size_t length) { sink(data, length); });
        }
    }

    // Serves the host until stopped or unplugged; false on an I/O failure.
    bool run() {
        if (!options_.stale.empty()) {
            queue(Clock::now(), std::vector<std::uint8_t>(options_.stale.begin(), options_.stale.end()));
        }
        std::vector<std::uint8_t> buf(64 * 1024);
        while (g_stop == 0 && !unplugged_) {
            if (!send_due()) return false;
            pollfd entry{node_, POLLIN, 0};
            const int ready = ::poll(&entry, 1, poll_timeout_ms());
            if (ready < 0) {
                if (errno == EINTR) continue;
                return fail("poll");
            }
            if (ready == 0 || (entry.revents & POLLIN) == 0) continue;
            const ssize_t n = ::read(node_, buf.data(), buf.size());
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return fail("read");
            }
            if (n == 0) continue;
            if (!take(buf.data(), static_cast<std::size_t>(n))) return false;
        }
        return !image_failed_;
    }

    void write_report(const std::string& path) const {
        if (path.empty()) return;
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd) return;
        // image_seconds: from the first image bytes read to the last, the
        // data phase as the printer sees it (0 with fewer than two reads).
        const double seconds = image_reads_ > 1 ? std::chrono::duration<double>(last_image_ - first_image_).count() : 0.0;
        char text[384];
        const int n = std::snprintf(
            text, sizeof text, "commands=%zu image_bytes=%llu skipped=%llu unplugged=%d image_seconds=%.6f sha256=%s\n",
            printer_.commands().size(), static_cast<unsigned long long>(image_bytes()),
            static_cast<unsigned long long>(printer_.skipped_bytes()), unplugged_ ? 1 : 0, seconds,
            (options_.raw ? raw_digest_.hex_digest() : printer_.image_sha256()).c_str());
        if (n > 0) write_all(fd.get(), reinterpret_cast<const std::uint8_t*>(text), static_cast<std::size_t>(n));
    }

private:
    bool fail(const char* what) {
        std::fprintf(stderr, "fwup-gadget-printer: %s %s: %s\n", what, options_.device.c_str(), std::strerror(errno));
        return false;
    }

    std::uint64_t image_bytes() const { return options_.raw ? raw_bytes_ : printer_.image_bytes(); }

    void sink(const std::uint8_t* data, std::size_t length) {
        if (image_ >= 0 && !write_all(image_, data, length)) image_failed_ = true;
    }

    bool take(const std::uint8_t* data, std::size_t length) {
        const std::uint64_t before = image_bytes();
        if (options_.raw) {
            // The same work per byte as the printer in its data phase: the
            // digest and the received-image file.
            raw_digest_.update(data, length);
            raw_bytes_ += length;
            sink(data, length);
        } else {
            printer_.receive(data, length);
            std::uint8_t reply[256];
            const std::size_t got = printer_.read_reply(reply, sizeof reply);
            const bool silent = options_.silent_from != 0 && printer_.commands().size() >= options_.silent_from;
            if (got > 0 && !silent) answer(std::vector<std::uint8_t>(reply, reply + got));
        }
        if (image_failed_) return fail("writing the received image");
        const bool image = image_bytes() > before;
        if (image) {
            last_image_ = Clock::now();
            if (image_reads_++ == 0) first_image_ = last_image_;
        }
        if (image && options_.unplug_after && image_bytes() >= *options_.unplug_after) {
            if (!unplug(options_.gadget)) return fail("unbinding the gadget");
            unplugged_ = true;
            return true;
        }
        if (image && options_.take_delay_ms > 0) std::this_thread::sleep_for(milliseconds(options_.take_delay_ms));
        return true;
    }

    void answer(std::vector<std::uint8_t> reply) {
        const auto at = Clock::now() + milliseconds(options_.reply_delay_ms);
        if (options_.split_at && *options_.split_at < reply.size()) {
            const auto cut = reply.begin() + static_cast<std::ptrdiff_t>(*options_.split_at);
            queue(at, std::vector<std::uint8_t>(reply.begin(), cut));
            queue(at + milliseconds(options_.split_pause_ms), std::vector<std::uint8_t>(cut, reply.end()));
        } else {
            queue(at, std::move(reply));
        }
    }

    void queue(Clock::time_point at, std::vector<std::uint8_t> bytes) { outgoing_.push_back({at, std::move(bytes)}); }

    // Each piece is one write(): the gadget sends it to the host as one transfer.
    bool send_due() {
        while (!outgoing_.empty() && outgoing_.front().at <= Clock::now()) {
            const std::vector<std::uint8_t>& bytes = outgoing_.front().bytes;
            if (!write_all(node_, bytes.data(), bytes.size())) return fail("write");
            outgoing_.pop_front();
        }
        return true;
    }

    int poll_timeout_ms() const {
        constexpr int kIdle = 100;  // looks at the stop flag this often
        if (outgoing_.empty()) return kIdle;
        const auto left = std::chrono::ceil<milliseconds>(outgoing_.front().at - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 0, kIdle));
    }

    const Options& options_;
    int node_;
    int image_;
    fwup::sim::VirtualPrinter printer_;
    fwup::sim::Sha256 raw_digest_;
    std::uint64_t raw_bytes_ = 0;
    std::uint64_t image_reads_ = 0;
    Clock::time_point first_image_{};
    Clock::time_point last_image_{};
    std::deque<Outgoing> outgoing_;
    bool unplugged_ = false;
    bool image_failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    std::optional<Options> options = parse(argc, argv);
    if (!options) {
        usage();
        return 2;
    }
    if (options->unplug_after && options->gadget.empty()) {
        std::fputs("fwup-gadget-printer: --unplug-after needs --gadget\n", stderr);
        return 2;
    }
    if (!options->gadget.empty()) read_identity(options->gadget, options->printer);

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    UniqueFd image;
    if (!options->received_image.empty()) {
        image = UniqueFd(::open(options->received_image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!image) {
            std::fprintf(stderr, "fwup-gadget-printer: %s: %s\n", options->received_image.c_str(), std::strerror(errno));
            return 1;
        }
    }
    UniqueFd node(::open(options->device.c_str(), O_RDWR | O_CLOEXEC));
    if (!node) {
        std::fprintf(stderr, "fwup-gadget-printer: %s: %s\n", options->device.c_str(), std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "fwup-gadget-printer: vendor 0x%04x, device ID \"%s\", version \"%s\"\n",
                 options->printer.vendor_id, options->printer.device_id.c_str(), options->printer.version.c_str());
    GadgetPrinter printer(*options, node.get(), image.get());
    const bool ok = printer.run();
    printer.write_report(options->report);
    return ok ? 0 : 1;
}
