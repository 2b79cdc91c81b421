#pragma once
#include <cstdio>
#include <istream>
#include <ostream>
#include <streambuf>

namespace fwup::cli {

// A stream buffer over a C stdio stream, unbuffered on this side so it mixes
// with other stdio output in order. The Windows build uses it instead of
// std::cout, std::cerr and std::cin: their set-up in the C++ runtime links the
// file streams, which need C runtime functions Windows 98 and 2000 lack.
class StdioStreamBuf final : public std::streambuf {
public:
    explicit StdioStreamBuf(std::FILE* file) : file_(file) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        return std::fputc(traits_type::to_char_type(c), file_) == EOF ? traits_type::eof() : c;
    }
    std::streamsize xsputn(const char* data, std::streamsize length) override {
        return static_cast<std::streamsize>(std::fwrite(data, 1, static_cast<std::size_t>(length), file_));
    }
    int sync() override { return std::fflush(file_) == 0 ? 0 : -1; }

    int_type underflow() override {
        if (gptr() == egptr()) {
            const int c = std::fgetc(file_);
            if (c == EOF) return traits_type::eof();
            held_ = static_cast<char>(c);
            setg(&held_, &held_, &held_ + 1);
        }
        return traits_type::to_int_type(*gptr());
    }

private:
    std::FILE* file_;
    char held_ = 0;
};

}  // namespace fwup::cli
