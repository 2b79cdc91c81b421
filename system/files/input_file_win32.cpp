#include <windows.h>

#include "system/files/input_file.h"

namespace fwup {

namespace {
HANDLE as_handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

std::unique_ptr<InputFile> InputFile::open(const std::string& path, Sharing sharing) {
    // Shared, others may read and write it meanwhile, as with the C runtime's
    // fopen. (FILE_SHARE_DELETE is refused by the Windows 9x family.)
    const DWORD share = sharing == Sharing::ReadWrite ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    // Devices (LPT1, CON, pipes) are no regular files.
    const Kind kind = GetFileType(file) == FILE_TYPE_DISK ? Kind::Regular : Kind::Other;
    std::uint64_t size = 0;
    if (kind == Kind::Regular) {
        // GetFileSize with its high word: GetFileSizeEx is not on Windows 98.
        DWORD high = 0;
        SetLastError(NO_ERROR);
        const DWORD low = GetFileSize(file, &high);
        if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
            CloseHandle(file);
            return nullptr;
        }
        size = (std::uint64_t{high} << 32U) | low;
    }
    return std::unique_ptr<InputFile>(new InputFile(reinterpret_cast<std::intptr_t>(file), kind, size));
}

InputFile::~InputFile() { CloseHandle(as_handle(handle_)); }

bool InputFile::read(void* buffer, std::uint32_t capacity, std::uint32_t& got) {
    DWORD read = 0;
    const BOOL ok = ReadFile(as_handle(handle_), buffer, capacity, &read, nullptr);
    got = ok ? read : 0;
    return ok != FALSE;
}

}  // namespace fwup
