#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "StreamTestSupport.h"
#include "dravik/stream/NetworkSource.h"
#include "dravik/stream/StreamServer.h"

namespace dravik::stream {
namespace {

using test::kPatience;
using Bytes = std::vector<uint8_t>;

StreamUrl urlFor(StreamKind kind, uint16_t port) {
    StreamUrl url;
    std::string error;
    const std::string text = std::string(kind == StreamKind::Raw ? "tcp" : "frames") +
                             "://127.0.0.1:" + std::to_string(port);
    EXPECT_TRUE(parseStreamUrl(text, url, error)) << error;
    return url;
}

// Reads until the end of the stream; -1 in `last` when it ended in a failure.
Bytes readToEnd(NetworkSource& source, long* last = nullptr) {
    Bytes all;
    uint8_t buffer[1000];  // smaller than a frame: payloads come out over several reads
    long got = 0;
    while ((got = source.read(buffer, sizeof buffer)) > 0) {
        all.insert(all.end(), buffer, buffer + got);
    }
    if (last != nullptr) {
        *last = got;
    }
    return all;
}

// A loopback socket bound to a free port; listening only when asked.
class LoopbackSocket {
  public:
    explicit LoopbackSocket(bool listening) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size), 0);
        port_ = ntohs(address.sin_port);
        if (listening) {
            EXPECT_EQ(::listen(fd_, 4), 0);
        }
    }
    ~LoopbackSocket() { ::close(fd_); }
    uint16_t port() const { return port_; }

    // Accepts one client, sends `bytes`, then closes (with a reset when asked).
    void serveOnce(const Bytes& bytes, bool reset = false) {
        const int client = ::accept(fd_, nullptr, nullptr);
        ASSERT_GE(client, 0);
        ASSERT_EQ(::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
        if (reset) {
            const linger abort{1, 0};
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        ::close(client);
    }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

class NetworkSourceKindTest : public ::testing::TestWithParam<StreamKind> {};

TEST_P(NetworkSourceKindTest, ReadsWhatTheServerPublished) {
    ServerOptions options;
    options.listeners.push_back({GetParam(), test::loopback()});
    options.flushTimeout = kPatience;
    StreamServer server(options);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;

    NetworkSource source(urlFor(GetParam(), server.listeners()[0].port));
    ASSERT_TRUE(source.connect(error)) << error;
    ASSERT_TRUE(server.waitForClients(1, kPatience));
    Bytes published;
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        const Bytes chunk = test::pattern(seed * 997, seed);
        server.publish(chunk.data(), chunk.size());
        published.insert(published.end(), chunk.begin(), chunk.end());
    }
    server.stop();
    long last = 1;
    EXPECT_EQ(readToEnd(source, &last), published);
    EXPECT_EQ(last, 0);
    EXPECT_EQ(source.error(), "");
    const SourceStats stats = source.stats();
    EXPECT_EQ(stats.traceBytes, published.size());
    EXPECT_EQ(stats.wireBytes, server.clients().at(0).bytesSent);
    EXPECT_EQ(stats.badFrames, 0u);
}

INSTANTIATE_TEST_SUITE_P(Ports, NetworkSourceKindTest,
                         ::testing::Values(StreamKind::Raw, StreamKind::Frames),
                         [](const ::testing::TestParamInfo<StreamKind>& info) {
                             return std::string(streamKindName(info.param));
                         });

Bytes frameBytes(uint8_t tag, const std::string& payload) {
    Bytes out(kMaxEncodedFrame);
    out.resize(encodeFrame(tag, reinterpret_cast<const uint8_t*>(payload.data()), payload.size(),
                           out.data()));
    return out;
}

TEST(NetworkSource, KeepsTheFramesOfItsTagAndSkipsBadOnes) {
    Bytes wire = {0x00};
    for (const Bytes& part : {frameBytes(1, "abc"), frameBytes(2, "zz"),
                              Bytes{0x04, 0x01, 0x10, 0xEE, 0x00},  // check byte wrong
                              frameBytes(1, std::string("d\0f", 3)), frameBytes(3, "")}) {
        wire.insert(wire.end(), part.begin(), part.end());
    }
    const struct {
        uint8_t tag;
        std::string trace;
    } cases[] = {{1, std::string("abcd\0f", 6)}, {2, "zz"}, {9, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int{c.tag});
        LoopbackSocket server(true);
        std::thread serving([&] { server.serveOnce(wire); });
        NetworkSource source(urlFor(StreamKind::Frames, server.port()), c.tag);
        std::string error;
        ASSERT_TRUE(source.connect(error)) << error;
        const Bytes trace = readToEnd(source);
        serving.join();
        EXPECT_EQ(std::string(trace.begin(), trace.end()), c.trace);
        const SourceStats stats = source.stats();
        EXPECT_EQ(stats.frames, 4u);
        EXPECT_EQ(stats.otherTagFrames, 4u - (c.tag == 1 ? 2 : c.tag == 2 ? 1 : 0));
        EXPECT_EQ(stats.badFrames, 1u);
        EXPECT_EQ(stats.wireBytes, wire.size());
    }
}

TEST(NetworkSource, AServerThatCannotBeReachedIsNamed) {
    LoopbackSocket notListening(false);
    NetworkSource source(urlFor(StreamKind::Raw, notListening.port()));
    std::string error;
    EXPECT_FALSE(source.connect(error));
    EXPECT_EQ(error, "cannot connect to tcp://127.0.0.1:" + std::to_string(notListening.port()) +
                         ": Connection refused");
    uint8_t byte = 0;
    EXPECT_EQ(source.read(&byte, 1), -1);
}

TEST(NetworkSource, AResetConnectionIsAFailureWithItsAddress) {
    LoopbackSocket server(true);
    NetworkSource source(urlFor(StreamKind::Raw, server.port()));
    std::string error;
    ASSERT_TRUE(source.connect(error)) << error;
    server.serveOnce({}, true);
    long last = 0;
    EXPECT_EQ(readToEnd(source, &last), Bytes{});
    EXPECT_EQ(last, -1);
    EXPECT_EQ(source.error(), "connection to tcp://127.0.0.1:" + std::to_string(server.port()) +
                                  ": Connection reset by peer");
}

TEST(NetworkSource, StoppingEndsAWaitingRead) {
    LoopbackSocket server(true);  // accepted by the system, never answered
    NetworkSource source(urlFor(StreamKind::Raw, server.port()));
    std::string error;
    ASSERT_TRUE(source.connect(error)) << error;
    auto reading = std::async(std::launch::async, [&] {
        uint8_t byte = 0;
        return source.read(&byte, 1);
    });
    source.requestStop();
    ASSERT_EQ(reading.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(reading.get(), 0);
    EXPECT_TRUE(source.stopRequested());
}

}  // namespace
}  // namespace dravik::stream
