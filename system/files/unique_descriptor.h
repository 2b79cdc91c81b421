#pragma once
#if !defined(_WIN32)
#include <unistd.h>

namespace fwup {

// A POSIX file descriptor (negative: none), closed when the object goes.
class UniqueDescriptor {
public:
    explicit UniqueDescriptor(int fd) : fd_(fd) {}
    ~UniqueDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    UniqueDescriptor(const UniqueDescriptor&) = delete;
    UniqueDescriptor& operator=(const UniqueDescriptor&) = delete;

    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace fwup
#endif
