#include "StreamTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace dravik::stream::test {

std::vector<uint8_t> pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // About one zero in 300 bytes: runs past the 254 bytes of a full COBS group happen.
        bytes[i] = (x % 300 == 0) ? 0 : static_cast<uint8_t>(1 + x % 255);
    }
    return bytes;
}

DecodedStream decodeStream(const std::vector<uint8_t>& wire) {
    DecodedStream out;
    FrameReader reader;
    reader.feed(wire.data(), wire.size(), [&](const DecodedFrame& frame) {
        out.largestPayload = std::max(out.largestPayload, frame.size);
        if (frame.tag != kItmTag) {
            ++out.otherTags;
            return;
        }
        out.trace.insert(out.trace.end(), frame.payload, frame.payload + frame.size);
    });
    out.frames = reader.stats().frames;
    out.badFrames = reader.stats().badFrames + (reader.heldBytes() != 0 ? 1 : 0);
    return out;
}

TestClient::TestClient(uint16_t port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

TestClient::~TestClient() {
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);  // ends a reading thread's wait
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string TestClient::localAddress() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    char host[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
}

void TestClient::startReading() {
    reader_ = std::thread([this] { readLoop(); });
}

void TestClient::readLoop() {
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            ended_.store(true);
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.insert(bytes_.end(), buffer, buffer + got);
        size_.store(bytes_.size());
    }
}

bool TestClient::waitForBytes(size_t size) {
    return eventually([&] { return size_.load() >= size; });
}

bool TestClient::waitForEnd() {
    if (!reader_.joinable()) {
        // Read here, a poll with the deadline left at a time.
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        uint8_t buffer[65536];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fds{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fds, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                ended_.store(true);
                return true;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            bytes_.insert(bytes_.end(), buffer, buffer + got);
            size_.store(bytes_.size());
        }
    }
    return eventually([&] { return ended_.load(); });
}

size_t TestClient::receivedSize() const {
    return size_.load();
}

std::vector<uint8_t> TestClient::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

void TestClient::close(bool reset) {
    if (reset) {
        const linger abort{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    // Shutting the reading side only wakes a reading thread without sending anything, so that
    // the close below is the reset.
    ::shutdown(fd_, reset ? SHUT_RD : SHUT_RDWR);
    if (reader_.joinable()) {
        reader_.join();
    }
    ::close(fd_);
    fd_ = -1;
}

void LogLines::add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
}

std::vector<std::string> LogLines::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

bool LogLines::contains(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

ListenAddress loopback(uint16_t port) {
    ListenAddress address;
    address.port = port;
    return address;
}

}  // namespace dravik::stream::test
