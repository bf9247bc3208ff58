// A capture's stream server (--serve, --serve-frames): a drain sink, so that every byte the library
// delivered goes out to the clients whatever the display drops, and what the capture tells the
// user about it: where it listens, who came and went, and each client's figures at the end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "dravik/stream/StreamServer.h"
#include "dravik/swv/DrainSink.h"
#include "dravik/swv/Options.h"

namespace dravik::swv {

class TraceServer final : public DrainSink {
  public:
    explicit TraceServer(const ServeOptions& options);
    ~TraceServer() override;  // stop()
    TraceServer(const TraceServer&) = delete;
    TraceServer& operator=(const TraceServer&) = delete;

    // Listens on every address; false with `error` naming the one that cannot be used.
    bool start(std::string& error);
    // One line per listener ("dravik-swv: serving the raw trace on 127.0.0.1:3443"), each
    // followed by the warning of an address other machines can reach.
    std::string listeningText() const;

    // The server's lines (a client connected, was refused, left) since the last call, each ending
    // in a newline; they come from its network thread and are shown by the capture's own.
    std::string takeLog();
    size_t connectedClients() const;

    // DrainSink: publishing only copies into the clients' queues, it never waits on the network.
    void data(uint64_t timeUs, const uint8_t* bytes, size_t size) override;
    // A raw stream has no way to mark a gap, and frames carry trace only: the clients see the
    // bytes on both sides of it, as a recording's plain dump does.
    void gap(uint64_t timeUs, GapCause cause) override;

    // Sends what is queued for a moment, then closes every client. Idempotent.
    void stop();
    // The summary's lines, each starting with two spaces: the ports, then one line per client
    // (address, bytes sent, bytes dropped); after stop().
    std::vector<std::string> summaryLines() const;

  private:
    size_t maxClients_;
    bool stopped_ = false;
    // Ids of clients still connected when the capture ended; the others left before the end.
    std::vector<uint64_t> presentAtEnd_;
    mutable std::mutex logMutex_;
    std::string log_;
    // Last: its network thread logs into the members above until it is stopped.
    stream::StreamServer server_;
};

}  // namespace dravik::swv
