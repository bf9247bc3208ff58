// The addresses of the stream: where a server listens ("[ADDR:]PORT") and where a network input
// connects ("tcp://HOST:PORT", "frames://HOST:PORT"). Parsing only; nothing here touches a socket.
#pragma once

#include <cstdint>
#include <string>

namespace dravik::stream {

// The two kinds of stream a server offers and a client reads.
enum class StreamKind {
    Raw,     // the trace bytes as the probe delivered them, nothing else
    Frames,  // COBS frames of tagged payloads (Frame.h)
};

constexpr uint16_t kDefaultRawPort = 3443;
constexpr uint16_t kDefaultFramePort = 3402;
// Without an address a server listens here only, so that the stream stays on this machine.
constexpr const char* kLoopbackHost = "127.0.0.1";

const char* streamKindName(StreamKind kind);  // "raw", "frame"

struct ListenAddress {
    std::string host = kLoopbackHost;  // a name or a numeric address; IPv6 without brackets
    uint16_t port = 0;                 // 0: any free port (the server tells which)
    bool hostGiven = false;            // the user named the address
};

// "PORT", "ADDR:PORT" or "[IPV6]:PORT". False with `error` naming the text when it is none of them.
bool parseListenAddress(const std::string& text, ListenAddress& address, std::string& error);

struct StreamUrl {
    StreamKind kind = StreamKind::Raw;
    std::string host;  // IPv6 without brackets
    uint16_t port = 0;
    std::string text;  // as given, for messages
};

// Whether the text names a network input at all (its scheme is tcp:// or frames://), so that a
// caller can tell it from a file name before parsing it.
bool isStreamUrl(const std::string& text);
// "tcp://HOST:PORT" (raw) or "frames://HOST:PORT"; HOST may be "[IPV6]". The port is required.
bool parseStreamUrl(const std::string& text, StreamUrl& url, std::string& error);

// "127.0.0.1:3443", "[::1]:3402": how addresses are written in messages.
std::string joinHostPort(const std::string& host, uint16_t port);

// Whether a numeric address is one of this machine's loopback addresses (127.0.0.0/8, ::1, or
// an IPv4 loopback address mapped into IPv6).
bool isLoopbackAddress(const std::string& numericHost);

// What a caller prints when a server listens where others can reach it: the stream carries no
// authentication, so anyone who reaches the address reads the trace.
std::string unauthenticatedWarning(const std::string& boundAddress);

}  // namespace dravik::stream
