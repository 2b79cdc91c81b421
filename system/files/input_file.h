#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace fwup {

// A file opened read-only through the system's own calls (CreateFileA and
// ReadFile on Windows, open and read elsewhere), never the C++ streams or
// std::filesystem: their Windows runtime needs functions that Windows 98 and
// 2000 lack. The path is narrow text as the system's ANSI calls take it.
// Closed when destroyed.
class InputFile {
public:
    enum class Kind { Regular, Directory, Other };
    // What others may do with the file while it is open. Windows enforces it;
    // POSIX systems have no such modes, and there the file is always shared.
    enum class Sharing { ReadWrite, None };

    // nullptr when the file does not exist or cannot be opened (on Windows
    // also when `sharing` conflicts with another open). Windows opens no
    // directory this way; elsewhere one opens with Kind::Directory.
    static std::unique_ptr<InputFile> open(const std::string& path, Sharing sharing = Sharing::ReadWrite);

    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    Kind kind() const { return kind_; }
    // The size at open, in 64 bits; 0 for what is no regular file.
    std::uint64_t size() const { return size_; }
    // Reads up to `capacity` bytes; `got` is 0 at end of file. False on a read error.
    bool read(void* buffer, std::uint32_t capacity, std::uint32_t& got);

private:
    using Handle = std::intptr_t;  // a HANDLE on Windows, a descriptor elsewhere
    InputFile(Handle handle, Kind kind, std::uint64_t size) : handle_(handle), kind_(kind), size_(size) {}

    Handle handle_;
    Kind kind_;
    std::uint64_t size_;
};

// The whole file; false when it cannot be opened or read, or is a directory.
bool read_whole_file(const std::string& path, std::string& bytes);

}  // namespace fwup
