// Any file as FWINFO.INI: the profile reader and the settings read from it.
// Besides the sanitizers' checks, the lookups must keep the private-profile
// promises: buffer limits, case-blind names, no zero byte in a value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "core/config/profile_reader.h"
#include "core/config/upgrade_settings.h"

namespace {

std::string ascii_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

struct Name {
    std::string section;
    std::string key;
};

// Section and key names as the file spells them, so that the lookups below
// mostly hit; a few lines are enough to reach every branch.
std::vector<Name> names_in(std::string_view text) {
    std::vector<Name> names;
    std::string section;
    constexpr std::size_t kMaxNames = 32;
    while (!text.empty() && names.size() < kMaxNames) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.front() == '[') {
            // Up to the first ']', or the whole rest of a line without one.
            section = std::string(trim(line.substr(1, line.find(']', 1) - 1)));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos) names.push_back({section, std::string(trim(line.substr(0, equals)))});
    }
    return names;
}

void check_lookups(const fwup::Profile& profile, const Name& name) {
    const std::string full = profile.get_string(name.section, name.key, "fallback");
    FUZZ_REQUIRE(full.find('\0') == std::string::npos);
    for (const std::size_t buffer : {std::size_t{0}, std::size_t{1}, std::size_t{4}, std::size_t{64}, std::size_t{128}}) {
        const std::string cut = profile.get_string(name.section, name.key, "fallback", buffer);
        FUZZ_REQUIRE(cut.size() <= (buffer == 0 ? 0 : buffer - 1));
        FUZZ_REQUIRE(full.compare(0, cut.size(), cut) == 0);
    }
    // Names match without regard to ASCII case.
    const std::string section_upper = ascii_upper(name.section);
    const std::string key_upper = ascii_upper(name.key);
    FUZZ_REQUIRE(profile.get_string(section_upper, key_upper, "fallback") == full);
    FUZZ_REQUIRE(profile.has_key(name.section, name.key) == profile.has_key(section_upper, key_upper));
    FUZZ_REQUIRE(!profile.has_key(name.section, name.key) || profile.has_section(name.section));
    const std::int32_t number = profile.get_int(name.section, name.key, -7);
    if (!profile.has_key(name.section, name.key)) {
        FUZZ_REQUIRE(number == -7);
        FUZZ_REQUIRE(full == "fallback");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const fwup::Profile profile = fwup::Profile::parse(bytes);

    const fwup::UpgradeSettings settings = fwup::read_upgrade_settings(profile);
    FUZZ_REQUIRE(settings.model_name.size() < fwup::UpgradeSettings::kModelNameBuffer);
    FUZZ_REQUIRE(settings.firmware_file.size() < fwup::UpgradeSettings::kFirmwareFileBuffer);
    FUZZ_REQUIRE(settings.model_name.find('\0') == std::string::npos);
    FUZZ_REQUIRE(settings.firmware_file.find('\0') == std::string::npos);

    for (const Name& name : names_in(bytes)) check_lookups(profile, name);
    check_lookups(profile, {"Download", "Model"});
    check_lookups(profile, {settings.model_name, "FW_File"});
    return 0;
}
