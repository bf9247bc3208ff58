// What the server and the network input share about sockets: an owned descriptor, resolving an
// address, and writing addresses and errors into messages.
#pragma once

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace dravik::stream {

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

struct AddrInfoDeleter {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// The addresses a host and port stand for (TCP); `passive` for listening. Null with `error`
// (the resolver's text) when there are none.
AddrInfoList resolve(const std::string& host, uint16_t port, bool passive, std::string& error);

// A non-blocking socket for one resolved address; empty with `why` when the system refuses.
Fd openSocket(const addrinfo& address, std::string& why);

// The numeric host of a socket address, without brackets.
std::string numericHost(const sockaddr* address, socklen_t size);
// "127.0.0.1:3443" or "[::1]:3443".
std::string describeAddress(const sockaddr* address, socklen_t size);

std::string errnoText(int error);

}  // namespace dravik::stream
