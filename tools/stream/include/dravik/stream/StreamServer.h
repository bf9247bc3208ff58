// The stream server: hands the live trace to any number of TCP clients, up to a limit, on raw
// and frame ports at once, so that several programs can follow one capture.
//
// Threads. publish() is called from the capture's draining side with every byte delivered. It
// copies the bytes into each client's own queue and returns: it never waits on the network and
// allocates nothing (a frame port's frames are encoded once, into a buffer of the server's). A
// network thread of the server's own does the rest with poll(2): it accepts clients, refuses
// those over the limit, sends each queue out with non-blocking sends and notices clients that
// leave. While the stream flows it sends in rounds (ServerOptions::sendInterval), so that a
// client gets it in larger pieces rather than one per publish. poll on one thread is all this
// needs: a few listening sockets and a few dozen clients at
// the most. epoll pays off only with many descriptors, and an event library would add a
// dependency for nothing used here.
//
// Losses. Each client has a bounded queue (ServerOptions::queueBytes). A client that does not
// keep up finds its queue full: what does not fit is dropped for that client alone and counted,
// and the publisher and every other client go on as before. On a raw port the bytes that fit are
// queued and the rest of the call's bytes dropped; on a frame port whole frames are dropped, so
// that a client never sees half a frame. A broken connection only removes its client: sends use
// MSG_NOSIGNAL, so no SIGPIPE reaches the process.
//
// Typical use (the capture tool's --serve):
//
//     dravik::stream::ServerOptions options;
//     options.listeners.push_back({dravik::stream::StreamKind::Raw, address});  //
//     parseListenAddress options.log = [](const std::string& line) { ... };  // from the network
//     thread dravik::stream::StreamServer server(options); std::string error; if
//     (!server.start(error)) { print error; exit 1; } for (const auto& listener :
//     server.listeners()) { print listener.warning if not empty }
//     ... server.publish(bytes, size) for every chunk drained ...
//     server.stop();  // lets queued bytes go out for a moment, then closes every client
//     for (const auto& client : server.clients()) { address, bytesSent, bytesDropped }
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dravik/stream/Address.h"
#include "dravik/stream/Frame.h"

namespace dravik::stream {

struct ListenerConfig {
    StreamKind kind = StreamKind::Raw;
    ListenAddress address;
};

struct ServerOptions {
    std::vector<ListenerConfig> listeners;
    // Clients connected at once, over every port; one more is accepted and closed at once.
    size_t maxClients = 16;
    // Each client's queue: 4 MiB hold 1.4 s of a 24 Mbit/s line, enough to ride out a client that
    // is descheduled or busy for a while; 64 MiB with 16 clients. A queue is allocated and
    // touched when its client connects, so that publishing never waits for memory.
    size_t queueBytes = 4u << 20;
    uint8_t frameTag = kItmTag;
    // Sends to a client go out at most this often while the stream flows (a client that fell
    // behind gets the rest as soon as its socket has room). Each send costs a system call and a
    // wake-up of the client whatever its size: at a publish every millisecond or so, rounds
    // cost a third or less of the CPU of a send per publish. A live display does not see 10 ms.
    std::chrono::milliseconds sendInterval{10};
    // How long stop() still sends queued bytes to clients before closing them.
    std::chrono::milliseconds flushTimeout{1000};
    // One line per client that connects, is refused or leaves; called from the network thread.
    std::function<void(const std::string&)> log;
};

struct ListenerInfo {
    StreamKind kind = StreamKind::Raw;
    std::string address;  // as bound: "127.0.0.1:3443"
    uint16_t port = 0;    // the real port, also when 0 was asked for
    // unauthenticatedWarning() when the address is not a loopback one, else empty.
    std::string warning;
};

struct ClientStats {
    uint64_t id = 0;      // 1, 2, ... in the order clients connected
    std::string address;  // the client's: "127.0.0.1:52114"
    StreamKind kind = StreamKind::Raw;
    std::string listener;    // the address it connected to
    bool connected = false;  // false once it left or the server stopped
    // Bytes written to its socket (on a frame port: encoded frames).
    uint64_t bytesSent = 0;
    // Bytes dropped because its queue was full, counted like bytesSent; bytesSent + bytesDropped
    // + bytesQueued is everything offered to the client.
    uint64_t bytesDropped = 0;
    // The trace bytes those were: bytesDropped on a raw port, the dropped frames' payloads on a
    // frame port.
    uint64_t traceBytesDropped = 0;
    uint64_t bytesQueued = 0;
};

class StreamServer {
  public:
    explicit StreamServer(ServerOptions options);
    ~StreamServer();  // stop()
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    // Listens on every configured address, then starts the network thread. False with `error`
    // when an address cannot be used ("cannot listen on 127.0.0.1:3443: Address already in use");
    // nothing is then left open. Once only.
    bool start(std::string& error);
    // Filled by a successful start(), in the order configured.
    const std::vector<ListenerInfo>& listeners() const;

    // Queues `size` bytes for every connected client; ignored before start() and after stop().
    // Safe from any thread, though one publisher at a time keeps the stream in order.
    void publish(const uint8_t* data, size_t size) noexcept;

    // Stops listening, lets the network thread send what is queued for up to flushTimeout, then
    // closes every client and ends the thread. Idempotent; publish() is ignored from here on.
    void stop();

    // Every client that ever connected, in the order they came; those still connected included.
    std::vector<ClientStats> clients() const;
    // Clients refused because maxClients were connected.
    uint64_t refusedClients() const;
    // Bytes passed to publish() while the server ran.
    uint64_t publishedBytes() const;
    // Waits until exactly `count` clients are connected or the timeout passes; whether they are.
    bool waitForClients(size_t count, std::chrono::milliseconds timeout) const;
    // CPU time the network thread has used (all of it once the server stopped).
    double networkCpuSeconds() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dravik::stream
