// A network input: the trace read from a stream server instead of a probe or a file. On a raw
// stream (tcp://) every byte is trace; on a frame stream (frames://) the payloads of the frames
// with the chosen tag are, other tags are skipped and frames that do not decode are counted and
// skipped, never fatal.
//
// Typical use (the capture tool's decode tcp://HOST:PORT):
//
//     dravik::stream::StreamUrl url;
//     if (!dravik::stream::parseStreamUrl(argument, url, error)) { usage error }
//     dravik::stream::NetworkSource source(url, tag);
//     if (!source.connect(error)) { print error; exit 1; }  // names the address
//     uint8_t buffer[4096];
//     for (long n; (n = source.read(buffer, sizeof buffer)) > 0;) { decode n bytes }
//     if (!source.error().empty()) { print it }  // the connection broke rather than ended
//
// A signal handler (Ctrl-C) or another thread calls requestStop(); read() then returns 0.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dravik/stream/Address.h"
#include "dravik/stream/Frame.h"

namespace dravik::stream {

struct SourceStats {
    uint64_t wireBytes = 0;       // received from the server
    uint64_t traceBytes = 0;      // handed out by read()
    uint64_t frames = 0;          // good frames of any tag
    uint64_t otherTagFrames = 0;  // good frames skipped for their tag
    uint64_t badFrames = 0;       // frames that did not decode
};

class NetworkSource {
  public:
    explicit NetworkSource(StreamUrl url, uint8_t tag = kItmTag);
    ~NetworkSource();
    NetworkSource(const NetworkSource&) = delete;
    NetworkSource& operator=(const NetworkSource&) = delete;

    // Connects, waiting up to `timeout` for the server to answer. False with `error` naming the
    // address ("cannot connect to tcp://127.0.0.1:3443: Connection refused").
    bool connect(std::string& error, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Waits for trace bytes and copies up to `capacity` of them: their count; 0 once the server
    // closed the stream or requestStop() was called; -1 when the connection failed (error()).
    long read(uint8_t* out, size_t capacity);

    // Makes a waiting or later read() return 0. Async-signal-safe; from any thread.
    void requestStop() noexcept;
    bool stopRequested() const { return stop_.load(); }
    // Why the last read() returned -1 ("connection to tcp://...: Connection reset by peer").
    const std::string& error() const { return error_; }
    const StreamUrl& url() const { return url_; }
    SourceStats stats() const;

  private:
    // Waits for the socket; false when stopped.
    bool waitReadable();
    // One receive into the wire buffer: its size, 0 at the end, -1 on failure.
    long receive(uint8_t* out, size_t capacity);

    StreamUrl url_;
    uint8_t tag_;
    int fd_ = -1;
    int stopFd_ = -1;  // eventfd
    std::atomic<bool> stop_{false};
    std::string error_;
    SourceStats stats_;
    FrameReader frames_;
    std::vector<uint8_t> wire_;
    std::vector<uint8_t> pending_;  // frame payloads received and not yet read
    size_t pendingAt_ = 0;
};

}  // namespace dravik::stream
