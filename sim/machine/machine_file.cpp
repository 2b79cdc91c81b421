#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <limits>
#include <string_view>
#include <system_error>

#include "core/config/profile_reader.h"
#include "sim/machine/machine_config.h"

namespace fwup::sim {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return out;
}

// Decimal digits, or 0x followed by hexadecimal digits; nothing else, no sign.
std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (ec != std::errc{} || ptr != end || value > max) return std::nullopt;
    return value;
}

// Reads one section's keys, remembering the first refusal.
class SectionReader {
public:
    SectionReader(const Profile& profile, const std::filesystem::path& file, std::string section, std::string& error)
        : profile_(profile), file_(file), section_(std::move(section)), error_(error) {}

    bool ok() const { return error_.empty(); }
    const std::string& section() const { return section_; }

    std::optional<std::string> text(std::string_view key) const {
        if (!profile_.has_key(section_, key)) return std::nullopt;
        return profile_.get_string(section_, key, "");
    }

    template <typename T>
    void number(std::string_view key, T& out, std::uint64_t max = std::numeric_limits<T>::max()) {
        const auto value = text(key);
        if (!value || !ok()) return;
        const auto parsed = parse_number(*value, max);
        if (!parsed) {
            refuse(key, *value, "expected a whole number from 0 to " + std::to_string(max) +
                                    " (decimal, or hexadecimal after 0x)");
            return;
        }
        out = static_cast<T>(*parsed);
    }

    // One of `choices`, matched without regard to case; returns its index.
    template <std::size_t N>
    void choice(std::string_view key, const std::array<std::string_view, N>& choices, std::size_t& out) {
        const auto value = text(key);
        if (!value || !ok()) return;
        const std::string wanted = lower(*value);
        for (std::size_t i = 0; i < N; ++i) {
            if (wanted == lower(choices[i])) {
                out = i;
                return;
            }
        }
        std::string expected;
        for (std::size_t i = 0; i < N; ++i) expected += (i == 0 ? "" : (i + 1 == N ? " or " : ", ")) + std::string(choices[i]);
        refuse(key, *value, "expected " + expected);
    }

    void path(std::string_view key, std::filesystem::path& out) {
        const auto value = text(key);
        if (!value || !ok()) return;
        if (value->empty()) {
            refuse(key, *value, "expected a file name");
            return;
        }
        const std::filesystem::path given(*value);
        out = given.is_absolute() ? given : file_.parent_path() / given;
        out = out.lexically_normal();
    }

    void refuse(std::string_view key, std::string_view value, std::string_view why) {
        if (!ok()) return;
        error_ = file_.string() + ": [" + section_ + "] " + std::string(key) + "=\"" + std::string(value) +
                 "\" is invalid: " + std::string(why);
    }

private:
    const Profile& profile_;
    const std::filesystem::path& file_;
    std::string section_;
    std::string& error_;
};

void read_machine_section(SectionReader& in, MachineConfig& config) {
    std::size_t platform = 1;  // index into {1, 2}
    in.choice("Platform", std::array<std::string_view, 2>{"1", "2"}, platform);
    config.os.platform_id = platform == 0 ? OsVersion::kWindows9x : OsVersion::kWindowsNt;
    in.number("Major", config.os.major);
    in.number("Minor", config.os.minor);

    std::size_t library = 0;
    in.choice("Library", std::array<std::string_view, 3>{"present", "missing", "incomplete"}, library);
    config.library = std::array{LibraryPresence::Present, LibraryPresence::Missing,
                                LibraryPresence::Incomplete}[library];

    std::size_t clock = 0;
    in.choice("Clock", std::array<std::string_view, 2>{"real", "virtual"}, clock);
    config.clock = clock == 0 ? ClockKind::Real : ClockKind::Virtual;

    in.number("LptOpenFailsFrom", config.lpt_faults.fail_open_from);
    in.number("LptTimeoutsFailFrom", config.lpt_faults.fail_timeouts_from);
    in.number("LptWritesFailFrom", config.lpt_faults.fail_writes_from);
    in.number("LptShortWritesFrom", config.lpt_faults.short_writes_from);
    in.number("LptReadsFailFrom", config.lpt_faults.fail_reads_from);
}

PrinterSetup read_printer_section(SectionReader& in) {
    PrinterSetup setup;
    setup.section = in.section();
    PrinterConfig& printer = setup.printer;

    std::size_t port = 0;
    in.choice("Port", std::array<std::string_view, 5>{"USB", "LPT1", "LPT2", "LPT3", "NET"}, port);
    setup.network = port == 4;
    setup.lpt = setup.network ? 0 : static_cast<int>(port);

    if (auto id = in.text("DeviceID")) printer.device_id = *id;
    in.number("VendorID", printer.vendor_id);
    if (auto version = in.text("Version")) {
        if (version->size() > 3) {
            in.refuse("Version", *version, "expected at most three characters");
        } else {
            printer.version = *version;
        }
    }
    std::size_t esc = 0;
    in.choice("Esc", std::array<std::string_view, 2>{"0", "1"}, esc);
    printer.esc = static_cast<int>(esc);
    in.number("DownloadStatus", printer.download_status);
    in.number("DemoStatus", printer.demo_status);
    in.number("DeviceIDFailures", printer.device_id_failures);
    in.number("ShortReplies", printer.short_replies);
    if (auto after = in.text("FailWriteAfter"); after && lower(*after) != "never") {
        std::uint64_t bytes = 0;
        in.number("FailWriteAfter", bytes);
        printer.fail_write_after = bytes;
    }
    if (auto after = in.text("VersionAfterUpgrade")) {
        if (lower(*after) == "keep") {
            printer.version_after_upgrade = printer.version;
        } else if (lower(*after) == "none") {
            printer.version_after_upgrade = printer.version;
            printer.answers_after_upgrade = false;
        } else if (after->size() > 3) {
            in.refuse("VersionAfterUpgrade", *after, "expected keep, none or at most three characters");
        } else {
            printer.version_after_upgrade = *after;
        }
    }
    std::size_t openable = 1;
    in.choice("Openable", std::array<std::string_view, 2>{"0", "1"}, openable);
    setup.openable = openable == 1;

    in.path("ReceivedImage", setup.received_image);
    in.path("Transcript", setup.transcript);
    return setup;
}

}  // namespace

std::optional<MachineConfig> read_machine_config(const Profile& profile, const std::filesystem::path& path,
                                                 std::string& error) {
    error.clear();
    MachineConfig config;
    config.file = path;

    SectionReader machine(profile, path, "Machine", error);
    read_machine_section(machine, config);

    for (const char* name : {"Printer", "Printer2", "Printer3"}) {
        if (!error.empty() || !profile.has_section(name)) continue;
        SectionReader in(profile, path, name, error);
        PrinterSetup setup = read_printer_section(in);
        if (!in.ok()) break;
        for (const PrinterSetup& other : config.printers) {
            if (setup.lpt != 0 && other.lpt == setup.lpt) {
                in.refuse("Port", "LPT" + std::to_string(setup.lpt), "[" + other.section + "] is on that port already");
            }
            const auto clash = [&](const std::filesystem::path& mine, const std::filesystem::path& theirs,
                                   std::string_view key) {
                if (!mine.empty() && mine == theirs) {
                    in.refuse(key, mine.string(), "[" + other.section + "] records into that file already");
                }
            };
            clash(setup.received_image, other.received_image, "ReceivedImage");
            clash(setup.transcript, other.transcript, "Transcript");
        }
        if (!in.ok()) break;
        config.printers.push_back(std::move(setup));
    }
    if (!error.empty()) return std::nullopt;
    return config;
}

std::optional<MachineConfig> read_machine_file(const std::filesystem::path& path, std::string& error) {
    const std::optional<Profile> profile = Profile::load(path.string());
    if (!profile) {
        error = path.string() + ": cannot read the virtual machine file";
        return std::nullopt;
    }
    return read_machine_config(*profile, path, error);
}

}  // namespace fwup::sim
