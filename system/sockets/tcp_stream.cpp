#include "system/sockets/tcp_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#if defined(__linux__)
#include <linux/sockios.h>
#endif

namespace fwup::sys {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, for poll(); 0 once it has passed.
int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

Clock::time_point deadline_after(std::uint32_t timeout_ms) {
    return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

// Waits for `events` on `fd` until the deadline; the events seen, 0 on time-out or failure.
short wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, remaining_ms(deadline));
        if (ready > 0) return entry.revents;
        if (ready == 0 || errno != EINTR) return 0;
    }
}

struct AddressList {
    addrinfo* first = nullptr;
    ~AddressList() {
        if (first != nullptr) ::freeaddrinfo(first);
    }
};

// One attempt on one address; the descriptor when connected, -1 otherwise.
int connect_one(const addrinfo& address, Clock::time_point deadline, ConnectResult& result) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                            address.ai_protocol);
    if (fd < 0) {
        result = ConnectResult::Failed;
        return -1;
    }
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
        result = errno == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::Failed;
        ::close(fd);
        return -1;
    }
    if (wait_for(fd, POLLOUT, deadline) == 0) {
        result = ConnectResult::NoAnswer;
        ::close(fd);
        return -1;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        result = error == ECONNREFUSED ? ConnectResult::Refused
                 : error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH ? ConnectResult::NoAnswer
                                                                                        : ConnectResult::Failed;
        ::close(fd);
        return -1;
    }
    result = ConnectResult::Connected;
    return fd;
}

}  // namespace

std::unique_ptr<TcpStream> TcpStream::connect(const std::string& host, std::uint16_t port, std::uint32_t timeout_ms,
                                              ConnectResult& result) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    AddressList addresses;
    const std::string service = std::to_string(port);
    if (host.empty() || ::getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses.first) != 0) {
        result = ConnectResult::NotResolved;
        return nullptr;
    }
    result = ConnectResult::NotResolved;
    for (const addrinfo* address = addresses.first; address != nullptr; address = address->ai_next) {
        const int fd = connect_one(*address, deadline_after(timeout_ms), result);
        if (fd < 0) continue;
        return std::make_unique<TcpStream>(fd);
    }
    return nullptr;
}

TcpStream::TcpStream(int fd) : fd_(fd) {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) static_cast<void>(::fcntl(fd_, F_SETFL, flags | O_NONBLOCK));
    const int on = 1;
    static_cast<void>(::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on));
}

void TcpStream::reset() {
    const linger abort{1, 0};
    static_cast<void>(::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort));
    ::close(fd_);
    fd_ = -1;
    closed_ = true;
}

TcpStream::~TcpStream() {
    if (fd_ >= 0) ::close(fd_);
}

bool TcpStream::send_all(const std::uint8_t* data, std::size_t length, std::size_t& sent, std::uint32_t timeout_ms) {
    sent = 0;
    const Clock::time_point deadline = deadline_after(timeout_ms);
    while (sent < length) {
        const ssize_t wrote = ::send(fd_, data + sent, length - sent, MSG_NOSIGNAL);
        if (wrote > 0) {
            sent += static_cast<std::size_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const short seen = wait_for(fd_, POLLOUT, deadline);
            if (seen == 0) return false;
            if ((seen & POLLOUT) == 0) closed_ = true;
            if (closed_) return false;
            continue;
        }
        closed_ = true;  // EPIPE, ECONNRESET: the other side is gone
        return false;
    }
    return true;
}

std::optional<std::size_t> TcpStream::receive_some(std::uint8_t* data, std::size_t capacity, std::uint32_t timeout_ms) {
    const Clock::time_point deadline = deadline_after(timeout_ms);
    for (;;) {
        const ssize_t got = ::recv(fd_, data, capacity, 0);
        if (got > 0) return static_cast<std::size_t>(got);
        if (got == 0) {
            closed_ = true;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            closed_ = true;
            return std::nullopt;
        }
        if (wait_for(fd_, POLLIN, deadline) == 0) return std::nullopt;
    }
}

std::size_t TcpStream::receive(std::uint8_t* data, std::size_t length, std::uint32_t timeout_ms) {
    const Clock::time_point deadline = deadline_after(timeout_ms);
    std::size_t total = 0;
    while (total < length && !closed_) {
        const std::optional<std::size_t> got =
            receive_some(data + total, length - total, static_cast<std::uint32_t>(remaining_ms(deadline)));
        if (!got || *got == 0) break;
        total += *got;
    }
    return total;
}

std::optional<std::size_t> TcpStream::unacknowledged() const {
#if defined(SIOCOUTQ)
    int queued = 0;
    if (::ioctl(fd_, SIOCOUTQ, &queued) == 0 && queued >= 0) return static_cast<std::size_t>(queued);
#endif
    return std::nullopt;
}

bool TcpStream::finish(std::uint32_t timeout_ms) {
    if (::shutdown(fd_, SHUT_WR) != 0) return false;
    const Clock::time_point deadline = deadline_after(timeout_ms);
    std::uint8_t drop[4096];
    // Reading to the other side's close shows a reset, and reading what it
    // still sends keeps it from blocking on a full buffer.
    while (!closed_) {
        const std::optional<std::size_t> got = receive_some(drop, sizeof drop, static_cast<std::uint32_t>(remaining_ms(deadline)));
        if (!got) {
            if (closed_) return false;  // reset: what it had not taken is lost
            break;                      // time-out: the other side keeps the connection open
        }
        if (*got == 0) break;  // closed after reading everything we sent
    }
    const std::optional<std::size_t> left = unacknowledged();
    return !left || *left == 0;
}

std::unique_ptr<TcpListener> TcpListener::on_loopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    const int on = 1;
    static_cast<void>(::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<TcpListener>(new TcpListener(fd, ntohs(address.sin_port)));
}

TcpListener::~TcpListener() { ::close(fd_); }

void TcpListener::shut() { static_cast<void>(::shutdown(fd_, SHUT_RDWR)); }

std::unique_ptr<TcpStream> TcpListener::accept(std::uint32_t timeout_ms) {
    if (wait_for(fd_, POLLIN, deadline_after(timeout_ms)) == 0) return nullptr;
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<TcpStream>(fd);
}

}  // namespace fwup::sys
