#include "Socket.h"

#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "dravik/stream/Address.h"

namespace dravik::stream {

AddrInfoList resolve(const std::string& host, uint16_t port, bool passive, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (status != 0) {
        error = status == EAI_SYSTEM ? errnoText(errno) : ::gai_strerror(status);
        return nullptr;
    }
    return AddrInfoList(list);
}

Fd openSocket(const addrinfo& address, std::string& why) {
    Fd fd(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                   address.ai_protocol));
    if (!fd) {
        why = errnoText(errno);
    }
    return fd;
}

std::string numericHost(const sockaddr* address, socklen_t size) {
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(address, size, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) {
        return "?";
    }
    return host;
}

std::string describeAddress(const sockaddr* address, socklen_t size) {
    uint16_t port = 0;
    if (address->sa_family == AF_INET) {
        port = ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
    } else if (address->sa_family == AF_INET6) {
        port = ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
    }
    return joinHostPort(numericHost(address, size), port);
}

std::string errnoText(int error) {
    char text[128];
    // The GNU strerror_r: returns the text, which may or may not be in the buffer.
    return ::strerror_r(error, text, sizeof text);
}

}  // namespace dravik::stream
