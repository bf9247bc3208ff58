// Loopback clients and helpers shared by the stream tests. Every wait has a deadline far beyond
// what a loaded machine needs, so a failure is a fault, not a slow run.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dravik/stream/Address.h"
#include "dravik/stream/Frame.h"
#include "dravik/stream/StreamServer.h"

namespace dravik::stream::test {

constexpr std::chrono::milliseconds kPatience{30000};

// Deterministic bytes with zeros and long non-zero runs, different for every seed.
std::vector<uint8_t> pattern(size_t size, uint32_t seed);

// What a frame stream holds once decoded.
struct DecodedStream {
    std::vector<uint8_t> trace;  // the payloads of tag 1, in order
    uint64_t frames = 0;
    uint64_t otherTags = 0;
    uint64_t badFrames = 0;
    size_t largestPayload = 0;
};
DecodedStream decodeStream(const std::vector<uint8_t>& wire);

// Waits for `done` to hold, checking every millisecond, for at most kPatience.
template <typename Condition>
bool eventually(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A connected loopback socket. Reading happens either on demand or on a thread of its own.
class TestClient {
  public:
    // receiveBuffer: SO_RCVBUF before connecting (0 keeps the default), so that a client that
    // does not read stops taking bytes soon.
    explicit TestClient(uint16_t port, int receiveBuffer = 0);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    // This end's address as the server sees it: "127.0.0.1:52114".
    std::string localAddress() const;

    // Reads on a thread until the end of the stream.
    void startReading();
    // Waits until at least `size` bytes arrived.
    bool waitForBytes(size_t size);
    // Waits for the end of the stream; reads it here unless a thread does.
    bool waitForEnd();
    size_t receivedSize() const;
    std::vector<uint8_t> received() const;

    // Closes this end; `reset` sends a reset instead of an orderly close.
    void close(bool reset);

  private:
    void readLoop();

    int fd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<uint8_t> bytes_;
    std::atomic<size_t> size_{0};
    std::atomic<bool> ended_{false};
};

// Collects the server's log lines (they come from its network thread).
class LogLines {
  public:
    void add(const std::string& line);
    std::vector<std::string> lines() const;
    bool contains(const std::string& line) const;
    std::function<void(const std::string&)> sink() {
        return [this](const std::string& line) { add(line); };
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

ListenAddress loopback(uint16_t port = 0);

}  // namespace dravik::stream::test
