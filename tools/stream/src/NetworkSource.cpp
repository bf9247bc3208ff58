#include "dravik/stream/NetworkSource.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Socket.h"

namespace dravik::stream {

namespace {

// A frame stream's receive size: several frames a call, and what their payloads make stays small.
constexpr size_t kWireBytes = 16384;

}  // namespace

NetworkSource::NetworkSource(StreamUrl url, uint8_t tag)
    : url_(std::move(url)), tag_(tag), stopFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

NetworkSource::~NetworkSource() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
}

bool NetworkSource::connect(std::string& error, std::chrono::milliseconds timeout) {
    const std::string prefix = "cannot connect to " + url_.text + ": ";
    if (stopFd_ < 0) {
        error = prefix + errnoText(errno);
        return false;
    }
    std::string why;
    AddrInfoList list = resolve(url_.host, url_.port, false, why);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        Fd fd = openSocket(*ai, why);
        if (!fd) {
            continue;
        }
        if (::connect(fd.get(), ai->ai_addr, ai->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                why = errnoText(errno);
                continue;
            }
            pollfd fds[2] = {{fd.get(), POLLOUT, 0}, {stopFd_, POLLIN, 0}};
            int ready = 0;
            do {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                ready = ::poll(fds, 2, left.count() > 0 ? static_cast<int>(left.count()) : 0);
            } while (ready < 0 && errno == EINTR);
            if (fds[1].revents != 0) {
                error = prefix + "stopped";
                return false;
            }
            if (ready == 0) {
                why = "no answer within " + std::to_string(timeout.count()) + " ms";
                continue;
            }
            int failure = 0;
            socklen_t size = sizeof failure;
            ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &failure, &size);
            if (failure != 0) {
                why = errnoText(failure);
                continue;
            }
        }
        fd_ = fd.release();
        return true;
    }
    error = prefix + why;
    return false;
}

void NetworkSource::requestStop() noexcept {
    stop_.store(true);
    const uint64_t one = 1;
    (void)!::write(stopFd_, &one, sizeof one);
}

bool NetworkSource::waitReadable() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (stop_.load()) {
            return false;
        }
        if (::poll(fds, 2, -1) >= 0) {
            return !stop_.load();
        }
        if (errno != EINTR) {
            return true;  // the receive that follows reports the failure
        }
    }
}

long NetworkSource::receive(uint8_t* out, size_t capacity) {
    for (;;) {
        if (!waitReadable()) {
            return 0;
        }
        const ssize_t got = ::recv(fd_, out, capacity, MSG_DONTWAIT);
        if (got >= 0) {
            stats_.wireBytes += static_cast<uint64_t>(got);
            return got;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            error_ = "connection to " + url_.text + ": " + errnoText(errno);
            return -1;
        }
    }
}

long NetworkSource::read(uint8_t* out, size_t capacity) {
    if (fd_ < 0) {
        error_ = "not connected to " + url_.text;
        return -1;
    }
    if (capacity == 0) {
        return 0;
    }
    if (url_.kind == StreamKind::Raw) {
        const long got = receive(out, capacity);
        stats_.traceBytes += got > 0 ? static_cast<uint64_t>(got) : 0;
        return got;
    }
    wire_.resize(kWireBytes);
    while (pendingAt_ == pending_.size()) {
        pending_.clear();
        pendingAt_ = 0;
        const long got = receive(wire_.data(), wire_.size());
        if (got <= 0) {
            return got;
        }
        frames_.feed(wire_.data(), static_cast<size_t>(got), [&](const DecodedFrame& frame) {
            if (frame.tag != tag_) {
                ++stats_.otherTagFrames;
                return;
            }
            pending_.insert(pending_.end(), frame.payload, frame.payload + frame.size);
        });
    }
    const size_t take = std::min(capacity, pending_.size() - pendingAt_);
    std::memcpy(out, pending_.data() + pendingAt_, take);
    pendingAt_ += take;
    stats_.traceBytes += take;
    return static_cast<long>(take);
}

SourceStats NetworkSource::stats() const {
    SourceStats s = stats_;
    s.frames = frames_.stats().frames;
    s.badFrames = frames_.stats().badFrames;
    return s;
}

}  // namespace dravik::stream
