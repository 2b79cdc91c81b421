#pragma once
#if !defined(_WIN32)
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace fwup::sys {

// Why a connection could not be made.
enum class ConnectResult {
    Connected,
    NotResolved,  // the name resolves to no address
    Refused,      // nothing listens on the port (or a firewall rejects)
    NoAnswer,     // no answer within the time-out
    Failed,       // any other failure of the system's calls
};

// One TCP connection, closed when the object goes. Every call is bounded by a
// time-out; none raises SIGPIPE.
class TcpStream {
public:
    // Connects to `host` (a name or an address, IPv4 or IPv6) on `port`,
    // trying each address the name resolves to in turn. Null with `result`
    // saying why when none accepts within `timeout_ms` each.
    static std::unique_ptr<TcpStream> connect(const std::string& host, std::uint16_t port,
                                              std::uint32_t timeout_ms, ConnectResult& result);
    // Adopts a connected descriptor (a listener's accepted connection).
    // Small writes leave at once (no Nagle delay): commands are a few bytes
    // and wait for their reply.
    explicit TcpStream(int fd);
    ~TcpStream();
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Sends all `length` bytes; false when the connection failed (closed or
    // reset by the other side) or did not take them within `timeout_ms`.
    // `sent` counts the bytes the system took.
    bool send_all(const std::uint8_t* data, std::size_t length, std::size_t& sent, std::uint32_t timeout_ms);
    // Receives until `length` bytes came, the other side closed, the
    // connection failed or `timeout_ms` passed; the count received.
    std::size_t receive(std::uint8_t* data, std::size_t length, std::uint32_t timeout_ms);
    // Receives what is there, waiting at most `timeout_ms` for the first
    // byte; 0 when the other side closed, nothing when nothing came or the
    // connection failed (`closed()` tells which).
    std::optional<std::size_t> receive_some(std::uint8_t* data, std::size_t capacity, std::uint32_t timeout_ms);
    // True once the other side closed its sending side or the connection failed.
    bool closed() const { return closed_; }

    // Ends a job: closes the sending side, waits until the other side has
    // acknowledged every byte sent and closes the connection, reading and
    // dropping whatever it still sends. True when everything sent is known
    // to have arrived; false on a reset, or when bytes stay unacknowledged
    // after `timeout_ms`. A peer that acknowledged all but keeps the
    // connection open past the time-out is taken as done.
    bool finish(std::uint32_t timeout_ms);

    // Drops the connection at once with a reset, as a peer that gives up
    // does: the other side's next call fails rather than seeing an orderly end.
    void reset();

    int descriptor() const { return fd_; }

private:
    // Bytes sent and not yet acknowledged by the other side; nothing when unknown.
    std::optional<std::size_t> unacknowledged() const;

    int fd_;
    bool closed_ = false;
};

// A listening socket on the loopback interface, closed when the object goes.
class TcpListener {
public:
    // Listens on 127.0.0.1:`port` (0: a free port the system picks). Null
    // when the port cannot be had.
    static std::unique_ptr<TcpListener> on_loopback(std::uint16_t port = 0);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    std::uint16_t port() const { return port_; }
    // The next connection, waiting at most `timeout_ms`; null when none came.
    std::unique_ptr<TcpStream> accept(std::uint32_t timeout_ms);
    // Takes no more connections; a thread waiting in accept() returns at once.
    void shut();

private:
    TcpListener(int fd, std::uint16_t port) : fd_(fd), port_(port) {}
    int fd_;
    std::uint16_t port_;
};

}  // namespace fwup::sys
#endif
