#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "StreamTestSupport.h"
#include "dravik/stream/StreamServer.h"

namespace dravik::stream {
namespace {

using test::kPatience;
using test::TestClient;
using Bytes = std::vector<uint8_t>;
using Clients = std::vector<std::unique_ptr<TestClient>>;

constexpr size_t kSmallQueue = 64 * 1024;
constexpr int kTinyReceiveBuffer = 4096;

class StreamServerTest : public ::testing::Test {
  protected:
    // A server on loopback ports of any free number, one per kind.
    void serve(std::vector<StreamKind> kinds, size_t maxClients = 16,
               size_t queueBytes = size_t{4} << 20) {
        ServerOptions options;
        for (StreamKind kind : kinds) {
            options.listeners.push_back({kind, test::loopback()});
        }
        options.maxClients = maxClients;
        options.queueBytes = queueBytes;
        options.flushTimeout = kPatience;  // clients that read get everything at the end
        options.log = log_.sink();
        server_ = std::make_unique<StreamServer>(options);
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
    }
    uint16_t port(size_t listener) const { return server_->listeners().at(listener).port; }

    // Connects `count` clients and waits until the server has taken them all.
    Clients connect(size_t listener, size_t count, bool reading = true, int receiveBuffer = 0) {
        Clients clients;
        for (size_t i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<TestClient>(port(listener), receiveBuffer));
            EXPECT_TRUE(clients.back()->connected());
            if (reading) {
                clients.back()->startReading();
            }
        }
        connected_ += count;
        EXPECT_TRUE(server_->waitForClients(connected_, kPatience));
        return clients;
    }

    ClientStats statsOf(const TestClient& client) const {
        for (const ClientStats& stats : server_->clients()) {
            if (stats.address == client.localAddress()) {
                return stats;
            }
        }
        ADD_FAILURE() << "the server does not know " << client.localAddress();
        return {};
    }

    // Publishes `data` in chunks, waiting after each until the server has handed everything to
    // the sockets of `keepingUp`: they never find their queue full, whatever the machine's load.
    void publishInStep(const Bytes& data, size_t chunk, const std::vector<TestClient*>& keepingUp) {
        for (size_t at = 0; at < data.size(); at += chunk) {
            server_->publish(data.data() + at, std::min(chunk, data.size() - at));
            waitUntilSent(keepingUp);
        }
    }
    void waitUntilSent(const std::vector<TestClient*>& clients) {
        EXPECT_TRUE(test::eventually([&] {
            for (const TestClient* client : clients) {
                if (statsOf(*client).bytesQueued != 0) {
                    return false;
                }
            }
            return true;
        }));
    }

    // Stops the server and waits for every client to see the end of its stream.
    void stopAndDrain(const std::vector<TestClient*>& clients) {
        server_->stop();
        for (TestClient* client : clients) {
            EXPECT_TRUE(client->waitForEnd());
        }
    }

    static Bytes traceOf(const TestClient& client, StreamKind kind) {
        if (kind == StreamKind::Raw) {
            return client.received();
        }
        const test::DecodedStream decoded = test::decodeStream(client.received());
        EXPECT_EQ(decoded.badFrames, 0u);
        EXPECT_EQ(decoded.otherTags, 0u);
        return decoded.trace;
    }

    std::string listenerText(size_t listener) const {
        return std::string(streamKindName(server_->listeners().at(listener).kind)) + " port " +
               server_->listeners().at(listener).address;
    }

    test::LogLines log_;
    std::unique_ptr<StreamServer> server_;
    size_t connected_ = 0;
};

std::vector<TestClient*> all(const std::initializer_list<const Clients*> groups) {
    std::vector<TestClient*> out;
    for (const Clients* group : groups) {
        for (const auto& client : *group) {
            out.push_back(client.get());
        }
    }
    return out;
}

TEST_F(StreamServerTest, EveryClientGetsTheWholeStreamInItsPortsForm) {
    serve({StreamKind::Raw, StreamKind::Frames});
    Clients raw = connect(0, 3);
    Clients frames = connect(1, 3);

    // Below the queue's size, so no client can lose a byte however slowly it reads.
    Bytes published;
    uint64_t frameCount = 0;
    uint32_t seed = 1;
    for (size_t size : {1, 3, 4095, 4096, 4097, 10000, 65536, 8192, 12289, 2}) {
        const Bytes chunk = test::pattern(size, seed++);
        server_->publish(chunk.data(), chunk.size());
        published.insert(published.end(), chunk.begin(), chunk.end());
        frameCount += (size + kMaxFramePayload - 1) / kMaxFramePayload;
    }
    stopAndDrain(all({&raw, &frames}));

    EXPECT_EQ(server_->publishedBytes(), published.size());
    for (const auto& client : raw) {
        EXPECT_EQ(client->received(), published);
    }
    for (const auto& client : frames) {
        const test::DecodedStream decoded = test::decodeStream(client->received());
        EXPECT_EQ(decoded.trace, published);
        EXPECT_EQ(decoded.frames, frameCount);
        EXPECT_EQ(decoded.largestPayload, kMaxFramePayload);
        EXPECT_EQ(decoded.badFrames, 0u);
    }
    const std::vector<ClientStats> stats = server_->clients();
    ASSERT_EQ(stats.size(), 6u);
    for (const TestClient* client : all({&raw, &frames})) {
        const ClientStats s = statsOf(*client);
        EXPECT_FALSE(s.connected);
        EXPECT_EQ(s.bytesSent, client->received().size());
        EXPECT_EQ(s.bytesDropped, 0u);
        EXPECT_EQ(s.bytesQueued, 0u);
    }
}

TEST_F(StreamServerTest, SendsExactBytesOnEachPort) {
    serve({StreamKind::Raw, StreamKind::Frames});
    Clients raw = connect(0, 1);
    Clients frames = connect(1, 1);
    const Bytes data = {0x00, 0x10};
    server_->publish(data.data(), data.size());
    stopAndDrain(all({&raw, &frames}));
    EXPECT_EQ(raw[0]->received(), data);
    EXPECT_EQ(frames[0]->received(), (Bytes{0x02, 0x01, 0x03, 0x10, 0xEF, 0x00}));
    EXPECT_EQ(log_.lines().at(0), "client " + raw[0]->localAddress() + " connected to the " +
                                      listenerText(0) + " (1 of 16)");
}

class StreamKindTest : public StreamServerTest, public ::testing::WithParamInterface<StreamKind> {};

// What a frame port offers a client for `data` published in `chunk`s: the frames' wire bytes.
uint64_t wireBytes(const Bytes& data, size_t chunk) {
    uint64_t total = 0;
    uint8_t frame[kMaxEncodedFrame];
    for (size_t at = 0; at < data.size(); at += chunk) {
        const size_t end = std::min(data.size(), at + chunk);
        for (size_t piece = at; piece < end; piece += kMaxFramePayload) {
            total += encodeFrame(kItmTag, data.data() + piece,
                                 std::min(kMaxFramePayload, end - piece), frame);
        }
    }
    return total;
}

TEST_P(StreamKindTest, AClientThatDoesNotReadLosesOnlyItsOwnBytes) {
    const StreamKind kind = GetParam();
    serve({kind}, 16, kSmallQueue);
    Clients readers = connect(0, 2);
    Clients idle = connect(0, 1, false, kTinyReceiveBuffer);
    const std::vector<TestClient*> keepingUp = all({&readers});

    // Published until the idle client's queue overflowed, then some more.
    constexpr size_t kChunk = 16 * 1024;
    constexpr size_t kMostBytes = size_t{64} << 20;
    Bytes published;
    size_t extraChunks = 8;
    for (uint32_t seed = 1; extraChunks != 0 && published.size() < kMostBytes; ++seed) {
        const Bytes chunk = test::pattern(kChunk, seed);
        publishInStep(chunk, kChunk, keepingUp);
        published.insert(published.end(), chunk.begin(), chunk.end());
        if (statsOf(*idle[0]).bytesDropped != 0) {
            --extraChunks;
        }
    }
    const ClientStats lossy = statsOf(*idle[0]);
    ASSERT_GT(lossy.bytesDropped, 0u);
    idle[0]->startReading();
    stopAndDrain(all({&readers, &idle}));

    for (const TestClient* reader : keepingUp) {
        EXPECT_EQ(traceOf(*reader, kind), published);
        EXPECT_EQ(statsOf(*reader).bytesDropped, 0u);
    }
    // Nothing more was lost once publishing ended; every byte offered was sent or dropped.
    const ClientStats after = statsOf(*idle[0]);
    EXPECT_EQ(after.bytesDropped, lossy.bytesDropped);
    EXPECT_EQ(after.bytesSent, idle[0]->received().size());
    const uint64_t offered =
        kind == StreamKind::Raw ? published.size() : wireBytes(published, kChunk);
    EXPECT_EQ(after.bytesSent + after.bytesDropped, offered);

    const Bytes trace = traceOf(*idle[0], kind);
    EXPECT_EQ(trace.size(), published.size() - after.traceBytesDropped);
    // Nothing is dropped before its queue first fills.
    ASSERT_GE(trace.size(), kSmallQueue / 2);
    EXPECT_TRUE(std::equal(trace.begin(), trace.begin() + kSmallQueue / 2, published.begin()));
    if (kind == StreamKind::Raw) {
        EXPECT_EQ(after.traceBytesDropped, after.bytesDropped);
    } else {
        // Whole frames were dropped: what arrived is whole payloads, in order.
        size_t next = 0;
        for (size_t at = 0; at < trace.size(); at += kMaxFramePayload) {
            while (next < published.size() &&
                   !std::equal(trace.begin() + at, trace.begin() + at + kMaxFramePayload,
                               published.begin() + next)) {
                next += kMaxFramePayload;
            }
            ASSERT_LT(next, published.size()) << "payload at " << at << " was not published";
            next += kMaxFramePayload;
        }
    }
}

TEST_P(StreamKindTest, ALateClientStartsAtTheNextByte) {
    const StreamKind kind = GetParam();
    serve({kind});
    Clients early = connect(0, 1);
    const Bytes before = test::pattern(5000, 1);
    server_->publish(before.data(), before.size());
    Clients late = connect(0, 1);
    const Bytes after = test::pattern(7000, 2);
    server_->publish(after.data(), after.size());
    stopAndDrain(all({&early, &late}));

    Bytes both = before;
    both.insert(both.end(), after.begin(), after.end());
    EXPECT_EQ(traceOf(*early[0], kind), both);
    EXPECT_EQ(traceOf(*late[0], kind), after);
}

INSTANTIATE_TEST_SUITE_P(Ports, StreamKindTest,
                         ::testing::Values(StreamKind::Raw, StreamKind::Frames),
                         [](const ::testing::TestParamInfo<StreamKind>& info) {
                             return std::string(streamKindName(info.param));
                         });

TEST_F(StreamServerTest, AClientLeavingMidStreamHarmsNoOne) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        serve({StreamKind::Raw});
        connected_ = 0;
        Clients readers = connect(0, 2);
        Clients leaving = connect(0, 1);
        const std::vector<TestClient*> everyone = all({&readers, &leaving});

        const Bytes first = test::pattern(100000, 1);
        publishInStep(first, 10000, everyone);
        // All of it in hand, so that an orderly close stays orderly (unread bytes make it a reset).
        ASSERT_TRUE(leaving[0]->waitForBytes(first.size()));
        const std::string address = leaving[0]->localAddress();
        leaving[0]->close(reset);
        ASSERT_TRUE(server_->waitForClients(2, kPatience));
        const Bytes second = test::pattern(100000, 2);
        publishInStep(second, 10000, all({&readers}));
        stopAndDrain(all({&readers}));

        Bytes published = first;
        published.insert(published.end(), second.begin(), second.end());
        for (const auto& reader : readers) {
            EXPECT_EQ(reader->received(), published);
        }
        const std::vector<ClientStats> stats = server_->clients();
        ASSERT_EQ(stats.size(), 3u);
        const ClientStats& left = stats[2];
        EXPECT_EQ(left.address, address);
        EXPECT_FALSE(left.connected);
        EXPECT_EQ(left.bytesSent, first.size());
        EXPECT_TRUE(log_.contains("client " + address + " left the " + listenerText(0) + " (" +
                                  (reset ? "Connection reset by peer" : "closed the connection") +
                                  "): 100000 bytes sent, 0 dropped"))
            << ::testing::PrintToString(log_.lines());
    }
}

TEST_F(StreamServerTest, AClientOverTheLimitIsRefusedAndItsPlaceFreedLater) {
    serve({StreamKind::Raw}, 2);
    Clients first = connect(0, 2);
    TestClient refused(port(0));
    ASSERT_TRUE(refused.connected());
    EXPECT_TRUE(refused.waitForEnd());
    EXPECT_EQ(refused.receivedSize(), 0u);
    EXPECT_EQ(server_->refusedClients(), 1u);
    EXPECT_TRUE(log_.contains("client " + refused.localAddress() + " refused on the " +
                              listenerText(0) + ": 2 clients connected already, the most allowed"))
        << ::testing::PrintToString(log_.lines());

    first[0]->close(false);
    connected_ = 1;
    ASSERT_TRUE(server_->waitForClients(1, kPatience));
    Clients second = connect(0, 1);
    const Bytes data = test::pattern(3000, 1);
    server_->publish(data.data(), data.size());
    stopAndDrain({first[1].get(), second[0].get()});
    EXPECT_EQ(first[1]->received(), data);
    EXPECT_EQ(second[0]->received(), data);
    EXPECT_EQ(server_->clients().size(), 3u);  // the refused one never was a client
}

// An IPv4 address of this machine other than a loopback one, or empty.
std::string otherLocalAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return {};
    }
    std::string found;
    for (const ifaddrs* i = list; i != nullptr && found.empty(); i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
            (i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        char host[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, host,
                    sizeof host);
        if (!isLoopbackAddress(host)) {
            found = host;
        }
    }
    ::freeifaddrs(list);
    return found;
}

TEST_F(StreamServerTest, WithoutAnAddressOnlyLoopbackIsServed) {
    ListenAddress address;
    std::string error;
    ASSERT_TRUE(parseListenAddress("0", address, error));
    ServerOptions options;
    options.listeners.push_back({StreamKind::Raw, address});
    StreamServer server(options);
    ASSERT_TRUE(server.start(error)) << error;
    const ListenerInfo& listener = server.listeners().at(0);
    EXPECT_EQ(listener.address, "127.0.0.1:" + std::to_string(listener.port));
    EXPECT_EQ(listener.warning, "");

    const std::string other = otherLocalAddress();
    if (other.empty()) {
        GTEST_SKIP() << "this machine has no address but loopback to try";
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(listener.port);
    ASSERT_EQ(::inet_pton(AF_INET, other.c_str(), &target.sin_addr), 1);
    const int result = ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target);
    const int failure = errno;
    ::close(fd);
    EXPECT_NE(result, 0) << "connected through " << other;
    EXPECT_EQ(failure, ECONNREFUSED) << other;
}

size_t openDescriptors() {
    size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

TEST_F(StreamServerTest, APortInUseIsAClearErrorAndLeavesNothingOpen) {
    serve({StreamKind::Raw});
    ServerOptions options;
    options.listeners.push_back({StreamKind::Frames, test::loopback()});
    options.listeners.push_back({StreamKind::Raw, test::loopback(port(0))});
    const size_t before = openDescriptors();
    StreamServer second(options);
    std::string error;
    EXPECT_FALSE(second.start(error));
    EXPECT_EQ(error,
              "cannot listen on 127.0.0.1:" + std::to_string(port(0)) + ": Address already in use");
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(second.listeners().empty());
    second.publish(reinterpret_cast<const uint8_t*>("x"), 1);  // not started: ignored
    EXPECT_EQ(second.publishedBytes(), 0u);
}

}  // namespace
}  // namespace dravik::stream
