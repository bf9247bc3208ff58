#include "dravik/stream/Address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace dravik::stream {

namespace {

bool parsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// Splits "HOST:PORT" or "[HOST]:PORT"; false when there is no port or the host is empty or an
// unbracketed IPv6 address (whose colons would make the port ambiguous).
bool splitHostPort(const std::string& text, std::string& host, uint16_t& port) {
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return false;
        }
        host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else {
        const size_t colon = text.find(':');
        if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
            return false;
        }
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    return !host.empty() && parsePort(portText, port);
}

}  // namespace

const char* streamKindName(StreamKind kind) {
    return kind == StreamKind::Raw ? "raw" : "frame";
}

bool parseListenAddress(const std::string& text, ListenAddress& address, std::string& error) {
    ListenAddress parsed;
    if (parsePort(text, parsed.port)) {
        address = parsed;
        return true;
    }
    if (!splitHostPort(text, parsed.host, parsed.port)) {
        error = "not a listening address: '" + text + "' (expected [ADDR:]PORT, PORT 0 to 65535)";
        return false;
    }
    parsed.hostGiven = true;
    address = parsed;
    return true;
}

bool isStreamUrl(const std::string& text) {
    return text.rfind("tcp://", 0) == 0 || text.rfind("frames://", 0) == 0;
}

bool parseStreamUrl(const std::string& text, StreamUrl& url, std::string& error) {
    StreamUrl parsed;
    std::string rest;
    if (text.rfind("tcp://", 0) == 0) {
        parsed.kind = StreamKind::Raw;
        rest = text.substr(6);
    } else if (text.rfind("frames://", 0) == 0) {
        parsed.kind = StreamKind::Frames;
        rest = text.substr(9);
    } else {
        error =
            "not a stream address: '" + text + "' (expected tcp://HOST:PORT or frames://HOST:PORT)";
        return false;
    }
    if (!splitHostPort(rest, parsed.host, parsed.port)) {
        error = "not a stream address: '" + text + "' (expected " +
                (parsed.kind == StreamKind::Raw ? "tcp" : "frames") + "://HOST:PORT)";
        return false;
    }
    parsed.text = text;
    url = parsed;
    return true;
}

std::string joinHostPort(const std::string& host, uint16_t port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool isLoopbackAddress(const std::string& numericHost) {
    in_addr v4{};
    if (::inet_pton(AF_INET, numericHost.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, numericHost.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6)) {
            return true;
        }
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

std::string unauthenticatedWarning(const std::string& boundAddress) {
    return "warning: serving the trace on " + boundAddress +
           ": the stream is unauthenticated, anyone who can reach this address can read it";
}

}  // namespace dravik::stream
