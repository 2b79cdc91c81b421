#include "core/config/profile_reader.h"

#include <algorithm>

#include "system/files/input_file.h"

namespace fwup {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

// Around a value Windows also drops vertical tabs (0x0B), as blanks.
bool is_value_blank(char c) { return is_blank(c) || c == '\v'; }

std::string_view trim_value(std::string_view text) {
    while (!text.empty() && is_value_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_value_blank(text.back())) text.remove_suffix(1);
    return text;
}

// What a C API would see of the text: everything up to the first zero byte.
std::string_view as_c_string(std::string_view text) {
    return text.substr(0, std::min(text.find('\0'), text.size()));
}

// Caller-supplied names lose surrounding spaces, but not tabs.
std::string_view caller_name(std::string_view name) {
    name = as_c_string(name);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    return name;
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool names_equal(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value.remove_prefix(1);
        value.remove_suffix(1);
    }
    return value;
}

// A file that starts with the UTF-16LE mark is read as UTF-16LE, as Windows
// does. The ANSI functions hand back narrow text, so each character becomes
// one byte: Latin-1 characters map to themselves, everything else to '?'.
std::string narrow_utf16le(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto low = static_cast<unsigned char>(bytes[i]);
        const auto high = static_cast<unsigned char>(bytes[i + 1]);
        const unsigned unit = low | (static_cast<unsigned>(high) << 8U);
        const bool maps = unit < 0x80U || (unit >= 0xA0U && unit <= 0xFFU);
        text.push_back(maps ? static_cast<char>(low) : '?');
    }
    return text;
}

constexpr std::string_view kUtf16LeMark = "\xFF\xFE";

}  // namespace

std::optional<Profile> Profile::load(const std::string& path) {
    std::string bytes;
    if (!read_whole_file(path, bytes)) return std::nullopt;
    return parse(bytes);
}

Profile Profile::parse(std::string_view bytes) {
    std::string widened_storage;
    std::string_view text = bytes;
    if (bytes.substr(0, kUtf16LeMark.size()) == kUtf16LeMark) {
        widened_storage = narrow_utf16le(bytes.substr(kUtf16LeMark.size()));
        text = widened_storage;
    }

    Profile profile;
    Section* current = nullptr;  // none until the first header: such lines are unreadable
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        const std::string_view line = trim_blanks(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));

        if (line.empty() || line.front() == ';') continue;

        if (line.front() == '[') {
            // The name ends at the first ']', or with the line when there is none.
            const std::string_view name = line.substr(1, line.find(']', 1) - 1);
            profile.sections_.push_back(Section{std::string(trim_blanks(name)), {}});
            current = &profile.sections_.back();
            continue;
        }

        if (current == nullptr) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;

        const std::string_view key = trim_blanks(line.substr(0, equals));
        const std::string_view value = as_c_string(unquote(trim_value(line.substr(equals + 1))));
        current->entries.push_back(Entry{std::string(key), std::string(value)});
    }
    return profile;
}

const Profile::Section* Profile::find_section(std::string_view name) const {
    const std::string_view wanted = caller_name(name);
    const auto it = std::find_if(sections_.begin(), sections_.end(),
                                 [&](const Section& s) { return names_equal(s.name, wanted); });
    return it == sections_.end() ? nullptr : &*it;
}

const std::string* Profile::find_value(std::string_view section, std::string_view key) const {
    const Section* found = find_section(section);
    if (found == nullptr) return nullptr;
    const std::string_view wanted = caller_name(key);
    const auto it = std::find_if(found->entries.begin(), found->entries.end(),
                                 [&](const Entry& e) { return names_equal(e.key, wanted); });
    return it == found->entries.end() ? nullptr : &it->value;
}

std::string Profile::get_string(std::string_view section, std::string_view key,
                                std::string_view default_value) const {
    if (const std::string* value = find_value(section, key)) return *value;
    std::string_view fallback = as_c_string(default_value);
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
    return std::string(fallback);
}

std::string Profile::get_string(std::string_view section, std::string_view key,
                                std::string_view default_value, std::size_t buffer_size) const {
    std::string result = get_string(section, key, default_value);
    const std::size_t room = buffer_size == 0 ? 0 : buffer_size - 1;
    if (result.size() > room) result.resize(room);
    return result;
}

std::int32_t Profile::get_int(std::string_view section, std::string_view key,
                              std::int32_t default_value) const {
    const std::string* value = find_value(section, key);
    if (value == nullptr || value->empty()) return default_value;

    std::string_view digits = *value;
    while (!digits.empty() && is_blank(digits.front())) digits.remove_prefix(1);
    bool negative = false;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    // Unsigned arithmetic wraps modulo 2^32, which is the conversion's documented result.
    std::uint32_t number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') break;
        number = number * 10U + static_cast<std::uint32_t>(c - '0');
    }
    if (negative) number = 0U - number;
    return static_cast<std::int32_t>(number);
}

bool Profile::has_key(std::string_view section, std::string_view key) const {
    return find_value(section, key) != nullptr;
}

bool Profile::has_section(std::string_view section) const {
    return find_section(section) != nullptr;
}

}  // namespace fwup
