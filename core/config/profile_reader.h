#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fwup {

// A read-only initialisation file with the lookup rules of the Windows
// private-profile functions (GetPrivateProfileStringA / GetPrivateProfileIntA),
// so that the program reads its settings the same way on every platform.
//
// File rules:
// - `[name]` opens a section; blanks before `[` and around the name are
//   dropped. The name ends at the first `]` (in `[a]b]` it is `a`), and text
//   after it is ignored; a line that starts with `[` but has no `]` opens a
//   section too, named by the rest of the line.
// - `key = value`: blanks (space, tab) around the key and the value are
//   dropped, and around the value vertical tabs as well; the first `=`
//   separates them. Then one outer pair of matching double or single quotes is
//   removed from the value. A line without `=` holds no key.
// - A line whose first non-blank character is `;` is a comment; there are no
//   trailing comments. Lines before the first section cannot be read.
// - Names match without regard to (ASCII) case. The first copy of a section
//   and the first key of a name within it win.
// - CRLF, LF and CR end lines. A UTF-8 byte-order mark is not special (it
//   sticks to the first line); a UTF-16LE mark switches to UTF-16LE, whose
//   characters are narrowed to Latin-1 with '?' for anything else.
// - A value stops at its first zero byte, as the C string a caller receives.
//
// Lookup rules: the caller's section and key names stop at a zero byte and
// lose leading and trailing spaces (only spaces). A default loses its
// trailing spaces.
class Profile {
public:
    // An empty profile: every lookup yields its default, like a missing file.
    Profile() = default;

    // Empty when the file cannot be opened or read, or is a directory.
    static std::optional<Profile> load(const std::string& path);
    // Never fails: any byte sequence is a (possibly empty) profile.
    static Profile parse(std::string_view bytes);

    // The value, or the default when the section or key is missing, cut to
    // buffer_size - 1 characters as if copied into a zero-terminated buffer of
    // buffer_size bytes. buffer_size 0 leaves no room for anything: "".
    std::string get_string(std::string_view section, std::string_view key,
                           std::string_view default_value, std::size_t buffer_size) const;
    // The same without a buffer limit.
    std::string get_string(std::string_view section, std::string_view key,
                           std::string_view default_value) const;

    // The default when the section or key is missing or the value is empty.
    // Otherwise: leading blanks skipped, one optional sign, decimal digits up to
    // the first non-digit (none gives 0), wrapped modulo 2^32.
    std::int32_t get_int(std::string_view section, std::string_view key,
                         std::int32_t default_value) const;

    bool has_key(std::string_view section, std::string_view key) const;
    bool has_section(std::string_view section) const;

private:
    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    const Section* find_section(std::string_view name) const;
    const std::string* find_value(std::string_view section, std::string_view key) const;

    std::vector<Section> sections_;
};

}  // namespace fwup
