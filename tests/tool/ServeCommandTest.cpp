// The stream server of capture and serve, and decode of a network input, run in-process against a
// scripted library with the test as the clients. The script is paced by the clients that read:
// before a poll is answered the test waits until they hold everything published so far, so no
// load on the machine makes them fall behind, and what a client that does not read loses is the
// only loss there is.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "StreamTestSupport.h"
#include "ToolTestSupport.h"
#include "dravik/stream/Frame.h"
#include "dravik/stream/StreamServer.h"
#include "dravik/swv/Tool.h"

namespace dravik::swv {
namespace {

using stream::test::TestClient;
using test::Bytes;
using test::SwvPoll;

constexpr size_t kPollBytes = 4000;  // a full probe buffer a poll

std::vector<std::string> benchCapture(const char* command, std::vector<std::string> extra) {
    std::vector<std::string> args = {command,      "--clock", "72000000", "--swo-rate", "2000000",
                                     "--duration", "1",       "--ports",  "0x3"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// The bench program's lines ("line N" on port 0, N on port 1) up to `size` bytes at least.
Bytes benchTrace(size_t size) {
    test::ItmStream stream;
    for (uint32_t n = 1; stream.bytes().size() < size; ++n) {
        stream.text(0, "line " + std::to_string(n) + "\n").write(1, 4, n);
    }
    return stream.bytes();
}

size_t frameWireSize(const uint8_t* data, size_t size) {
    uint8_t frame[stream::kMaxEncodedFrame];
    return stream::encodeFrame(stream::kItmTag, data, size, frame);
}

// The most a socket may buffer for a peer that does not read: a client's share beyond its queue.
size_t systemSendBufferMax() {
    std::ifstream file("/proc/sys/net/ipv4/tcp_wmem");
    size_t least = 0, initial = 0, most = 0;
    return file >> least >> initial >> most ? most : size_t{4} << 20;
}

// A loopback port held by a socket of the test's: listening (so that a server cannot take it) or
// not (so that nothing answers there).
class HeldPort {
  public:
    explicit HeldPort(bool listening) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(listening ? ::listen(fd_, 1) : 0, 0);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~HeldPort() { ::close(fd_); }
    std::string text() const { return std::to_string(port_); }

  private:
    int fd_;
    uint16_t port_ = 0;
};

// A client's line in the summary.
struct ServedClient {
    bool listed = false;
    std::string kind;
    uint64_t sent = 0;
    uint64_t dropped = 0;
    bool leftEarly = false;
};

ServedClient summaryOf(const std::string& text, const std::string& address) {
    ServedClient client;
    const size_t at = text.find(" " + address + " (");
    if (at == std::string::npos) {
        return client;
    }
    const std::string line = text.substr(at, text.find('\n', at) - at);
    char kind[16] = {};
    unsigned long long sent = 0, dropped = 0;
    client.listed = std::sscanf(line.c_str() + address.size() + 1,
                                " (%15[a-z]): sent %llu B, "
                                "dropped %llu B",
                                kind, &sent, &dropped) == 3;
    client.kind = kind;
    client.sent = sent;
    client.dropped = dropped;
    client.leftEarly = line.find(", left before the end") != std::string::npos;
    return client;
}

class ServeTest : public testing::Test {
  protected:
    ServeTest() : env_(api, out, err, clock) {
        env_.stopRequests = &stopRequests;
        env_.queueChunks = 64;
    }
    ~ServeTest() override {
        if (tool_.joinable()) {
            stopRequests.store(1);  // a test that failed early: the tool may wait for clients
            tool_.join();
        }
    }

    // Runs the tool on a thread of its own, so that the test can be its clients.
    void start(std::vector<std::string> args) {
        out.str("");
        err.str("");
        stopRequests.store(0);
        args_ = std::move(args);
        args_.insert(args_.begin(), "dravik-swv");
        tool_ = std::thread([this] {
            std::vector<const char*> argv;
            for (const std::string& arg : args_) {
                argv.push_back(arg.c_str());
            }
            exitStatus_ = runTool(env_, static_cast<int>(argv.size()), argv.data());
        });
    }
    int finish() {
        tool_.join();
        return exitStatus_;
    }
    int run(std::vector<std::string> args) {
        start(std::move(args));
        return finish();
    }

    // Standard error so far; safe while the tool runs.
    std::string errText() {
        std::lock_guard<std::mutex> lock(env_.errMutex);
        return err.str();
    }
    bool waitForErr(const std::string& line) {
        const bool found =
            stream::test::eventually([&] { return errText().find(line) != std::string::npos; });
        EXPECT_TRUE(found) << "no '" << line << "' in:\n" << errText();
        return found;
    }
    // The port a listener of the tool got ("the raw trace", "frames of the trace (tag 1)").
    uint16_t servedPort(const std::string& what) {
        const std::string head = "dravik-swv: serving " + what + " on 127.0.0.1:";
        if (!waitForErr(head)) {
            return 0;
        }
        const std::string text = errText();
        return static_cast<uint16_t>(std::stoi(text.substr(text.find(head) + head.size())));
    }

    // Scripts `trace` as full polls and one empty poll after them, and returns where each poll
    // starts in the trace (and the trace's end last).
    std::vector<size_t> script(const Bytes& trace) {
        std::vector<size_t> starts;
        for (size_t at = 0; at < trace.size(); at += kPollBytes) {
            starts.push_back(at);
            const auto end =
                trace.begin() + static_cast<long>(std::min(at + kPollBytes, trace.size()));
            api.polls.push_back(SwvPoll{0, Bytes(trace.begin() + static_cast<long>(at), end)});
        }
        starts.push_back(trace.size());
        // Answered once everything was published: the readers catch up before the capture ends.
        api.polls.push_back(SwvPoll{0, {}});
        return starts;
    }

    test::FakeTraceInterface api;
    test::FakeClock clock;
    std::ostringstream out;
    std::ostringstream err;
    std::atomic<int> stopRequests{0};
    test::TempDir dir;

  private:
    ToolEnvironment env_;
    std::vector<std::string> args_;
    std::thread tool_;
    int exitStatus_ = -1;
};

TEST_F(ServeTest, AClientThatNeverReadsLosesOnlyItsOwnBytes) {
    constexpr size_t kQueue = 64 * 1024;
    // The readers are waited for every 6 polls, some 24 kB. A reader may have bytes before the
    // server has counted them out of its queue, so a queue may seem to hold the batch before as
    // well: two batches still fit.
    constexpr size_t kPace = 6;
    // Enough that the idle client's queue and what the system buffers for it overflow.
    const Bytes trace = benchTrace(kQueue + systemSendBufferMax() + 512 * 1024);
    const std::vector<size_t> starts = script(trace);
    std::vector<size_t> frameStarts = {0};
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        frameStarts.push_back(frameStarts.back() +
                              frameWireSize(trace.data() + starts[i], starts[i + 1] - starts[i]));
    }

    std::unique_ptr<TestClient> rawReader, frameReader, idle;
    std::atomic<bool> connected{false};
    api.beforePoll = [&](size_t poll) {
        if (poll % kPace != 0 && poll + 1 != starts.size()) {
            return;
        }
        ASSERT_TRUE(stream::test::eventually([&] { return connected.load(); }));
        EXPECT_TRUE(rawReader->waitForBytes(starts[poll]));
        EXPECT_TRUE(frameReader->waitForBytes(frameStarts[poll]));
    };
    const std::string recording = dir.path("trace.rec");
    start(benchCapture("serve", {"--serve", "0", "--serve-frames", "0", "--wait-clients", "3",
                                 "--client-queue", "64K", "--raw", recording}));
    const uint16_t rawPort = servedPort("the raw trace");
    const uint16_t framePort = servedPort("frames of the trace (tag 1)");
    rawReader = std::make_unique<TestClient>(rawPort);
    frameReader = std::make_unique<TestClient>(framePort);
    idle = std::make_unique<TestClient>(rawPort, 4096);
    const std::string idleAddress = idle->localAddress();
    const std::string rawAddress = rawReader->localAddress();
    const std::string frameAddress = frameReader->localAddress();
    rawReader->startReading();
    frameReader->startReading();
    connected.store(true);
    ASSERT_EQ(finish(), 0) << errText();

    // What was sent to it is there once it reads.
    idle->startReading();
    ASSERT_TRUE(idle->waitForEnd());
    ASSERT_TRUE(rawReader->waitForEnd());
    ASSERT_TRUE(frameReader->waitForEnd());
    EXPECT_EQ(out.str(), "");  // serve shows nothing
    EXPECT_EQ(test::recordedTrace(recording), trace);
    EXPECT_EQ(rawReader->received(), trace);
    EXPECT_EQ(stream::test::decodeStream(frameReader->received()).trace, trace);

    const std::string text = errText();
    const ServedClient lossy = summaryOf(text, idleAddress);
    ASSERT_TRUE(lossy.listed) << text;
    EXPECT_GT(lossy.dropped, 0u);
    EXPECT_EQ(lossy.sent, idle->receivedSize());
    EXPECT_EQ(lossy.sent + lossy.dropped, trace.size());
    const struct {
        std::string address;
        const char* kind;
        uint64_t sent;
    } readers[] = {{rawAddress, "raw", trace.size()}, {frameAddress, "frames", frameStarts.back()}};
    for (const auto& reader : readers) {
        const ServedClient served = summaryOf(text, reader.address);
        EXPECT_TRUE(served.listed) << text;
        EXPECT_EQ(served.kind, reader.kind);
        EXPECT_EQ(served.sent, reader.sent);
        EXPECT_EQ(served.dropped, 0u);
        EXPECT_FALSE(served.leftEarly);
    }
    EXPECT_NE(text.find("  served on 127.0.0.1:" + std::to_string(rawPort) + " (raw), 127.0.0.1:" +
                        std::to_string(framePort) + " (frames): 3 clients\n  client "),
              std::string::npos)
        << text;
}

TEST_F(ServeTest, ClientsComeAndGoWithoutDisturbingTheOthers) {
    const Bytes trace = benchTrace(10 * kPollBytes);
    const std::vector<size_t> starts = script(trace);
    const size_t leaveAt = 4;  // the poll before which one client leaves and another comes
    std::string port;
    std::unique_ptr<TestClient> stayer, leaver, late;
    std::string leaverAddress, lateAddress, refusedAddress;
    std::atomic<bool> connected{false};
    api.beforePoll = [&](size_t poll) {
        ASSERT_TRUE(stream::test::eventually([&] { return connected.load(); }));
        if (poll == leaveAt) {
            EXPECT_TRUE(stayer->waitForBytes(starts[poll]));
            EXPECT_TRUE(leaver->waitForBytes(starts[poll]));
            // Over the limit: taken and closed at once.
            TestClient refused(static_cast<uint16_t>(std::stoi(port)));
            refusedAddress = refused.localAddress();
            EXPECT_TRUE(refused.waitForEnd());
            EXPECT_EQ(refused.receivedSize(), 0u);
            waitForErr("dravik-swv: client " + refusedAddress + " refused on the raw port " +
                       "127.0.0.1:" + port + ": 2 clients connected already, the most allowed\n");

            leaver->close(false);
            waitForErr("dravik-swv: client " + leaverAddress + " left the raw port 127.0.0.1:" +
                       port + " (closed the connection): " + std::to_string(starts[poll]) +
                       " bytes sent, 0 dropped\n");
            late = std::make_unique<TestClient>(static_cast<uint16_t>(std::stoi(port)));
            lateAddress = late->localAddress();
            late->startReading();
            waitForErr("dravik-swv: client " + lateAddress + " connected to the raw port " +
                       "127.0.0.1:" + port + " (2 of 2)\n");
        }
        if (poll + 1 == starts.size()) {
            EXPECT_TRUE(stayer->waitForBytes(trace.size()));
            EXPECT_TRUE(late->waitForBytes(trace.size() - starts[leaveAt]));
        }
    };
    const std::string recording = dir.path("trace.rec");
    start(benchCapture("capture", {"--serve", "0", "--max-clients", "2", "--wait-clients", "2",
                                   "--raw", recording, "-q"}));
    port = std::to_string(servedPort("the raw trace"));
    stayer = std::make_unique<TestClient>(static_cast<uint16_t>(std::stoi(port)));
    leaver = std::make_unique<TestClient>(static_cast<uint16_t>(std::stoi(port)));
    const std::string stayerAddress = stayer->localAddress();
    leaverAddress = leaver->localAddress();
    stayer->startReading();
    leaver->startReading();
    connected.store(true);
    ASSERT_EQ(finish(), 0) << errText();
    ASSERT_TRUE(stayer->waitForEnd());
    ASSERT_TRUE(late->waitForEnd());

    EXPECT_EQ(test::recordedTrace(recording), trace);
    EXPECT_EQ(stayer->received(), trace);
    EXPECT_EQ(leaver->received(), Bytes(trace.begin(), trace.begin() + starts[leaveAt]));
    EXPECT_EQ(late->received(), Bytes(trace.begin() + starts[leaveAt], trace.end()));

    const std::string text = errText();
    EXPECT_NE(text.find("  served on 127.0.0.1:" + port +
                        " (raw): 3 clients, 1 refused (2 connected at once at the most)\n"),
              std::string::npos)
        << text;
    const struct {
        std::string address;
        uint64_t sent;
        bool leftEarly;
    } clients[] = {{stayerAddress, trace.size(), false},
                   {leaverAddress, starts[leaveAt], true},
                   {lateAddress, trace.size() - starts[leaveAt], false}};
    for (const auto& client : clients) {
        const ServedClient served = summaryOf(text, client.address);
        EXPECT_TRUE(served.listed) << client.address << "\n" << text;
        EXPECT_EQ(served.sent, client.sent) << client.address;
        EXPECT_EQ(served.dropped, 0u) << client.address;
        EXPECT_EQ(served.leftEarly, client.leftEarly) << client.address;
    }
    EXPECT_FALSE(summaryOf(text, refusedAddress).listed) << text;
    // The verdict stays the summary's last line.
    EXPECT_EQ(text.substr(text.rfind("\n  ", text.size() - 2)), "\n  health: good\n");
}

TEST_F(ServeTest, CtrlCWhileWaitingForClientsLeavesTheTargetHaltedAndNothingBehind) {
    const std::string recording = dir.path("trace.rec");
    start(benchCapture("serve", {"--serve", "0", "--wait-clients", "1", "--raw", recording}));
    waitForErr("dravik-swv: waiting for 1 client before the target runs\n");
    stopRequests.store(1);
    EXPECT_EQ(finish(), 0) << err.str();
    EXPECT_NE(err.str().find("dravik-swv: stopped while waiting for clients; nothing was "
                             "captured\n"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(api.countCalls("DravikRunDevice"), 0u);
    EXPECT_TRUE(api.closed());
    EXPECT_FALSE(test::fileExists(recording));
}

TEST_F(ServeTest, APortInUseEndsTheRunBeforeTheProbeIsTouched) {
    const HeldPort held(true);
    const std::vector<std::string> runs[] = {
        benchCapture("capture", {"--serve", held.text()}),
        benchCapture("serve", {"--serve", "0", "--serve-frames", "127.0.0.1:" + held.text()}),
    };
    for (const std::vector<std::string>& args : runs) {
        SCOPED_TRACE(args.front());
        EXPECT_EQ(run(args), kExitFailure);
        EXPECT_NE(err.str().find("dravik-swv: cannot listen on 127.0.0.1:" + held.text() +
                                 ": Address already in use\n"),
                  std::string::npos)
            << err.str();
        EXPECT_TRUE(api.calls().empty());
    }
}

TEST_F(ServeTest, BadServeAndNetworkArgumentsTouchNothing) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {benchCapture("capture", {"--serve", "host:"}),
         "dravik-swv capture: --serve: not a listening address: 'host:' (expected [ADDR:]PORT, "
         "PORT 0 to 65535)\n"},
        {benchCapture("capture", {"--max-clients", "4"}),
         "dravik-swv capture: --max-clients, --client-queue and --wait-clients need --serve or "
         "--serve-frames\n"},
        {benchCapture("serve", {"--max-clients", "0"}),
         "dravik-swv serve: --max-clients: '0' is below 1\n"},
        {benchCapture("serve", {"--client-queue", "1K"}),
         "dravik-swv serve: --client-queue: '1K' is below 65536 bytes\n"},
        {benchCapture("serve", {"--client-queue", "4G"}),
         "dravik-swv serve: --client-queue: '4G' is not a size in bytes up to 1073741824 (a "
         "number, or one with K or M)\n"},
        {benchCapture("serve", {"--wait-clients", "3", "--max-clients", "2"}),
         "dravik-swv serve: --wait-clients 3: more than --max-clients 2 could ever connect\n"},
        {{"decode", "tcp://127.0.0.1"},
         "dravik-swv decode: not a stream address: 'tcp://127.0.0.1' (expected "
         "tcp://HOST:PORT)\n"},
        {{"decode", "tcp://127.0.0.1:1", "--realtime"},
         "dravik-swv decode: --realtime: tcp://127.0.0.1:1 is a live stream\n"},
        {{"decode", "trace.rec", "--tag", "2"},
         "dravik-swv decode: --tag: only a frames:// input has tags\n"},
        {{"decode", "frames://127.0.0.1:1", "--tag", "256"},
         "dravik-swv decode: --tag: '256' is too large (at most 255)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(run(c.args), kExitUsage);
        EXPECT_EQ(err.str().rfind(c.message, 0), 0u) << err.str();
    }
    EXPECT_TRUE(api.calls().empty());
}

// A stream server of the test's own, on one loopback port of any free number.
class OwnServer {
  public:
    explicit OwnServer(stream::StreamKind kind, size_t maxClients = 16) {
        stream::ServerOptions options;
        options.listeners.push_back({kind, stream::test::loopback()});
        options.maxClients = maxClients;
        server_ = std::make_unique<stream::StreamServer>(options);
        std::string error;
        EXPECT_TRUE(server_->start(error)) << error;
    }
    std::string port() const { return std::to_string(server_->listeners().at(0).port); }
    stream::StreamServer& operator*() { return *server_; }
    stream::StreamServer* operator->() { return server_.get(); }

  private:
    std::unique_ptr<stream::StreamServer> server_;
};

TEST_F(ServeTest, DecodeFollowsAServerUntilItClosesTheStream) {
    const Bytes trace = benchTrace(40);  // lines 1 to 3, 45 bytes
    const std::string shown = "[0] line 1\n[1] 1\n[0] line 2\n[1] 2\n[0] line 3\n[1] 3\n";
    const struct {
        stream::StreamKind kind;
        const char* scheme;
        const char* frames;
    } cases[] = {
        {stream::StreamKind::Raw, "tcp", ""},
        {stream::StreamKind::Frames, "frames",
         "  frames: 3 of tag 1, 0 of other tags skipped, 0 that did not decode\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scheme);
        OwnServer server(c.kind);
        const std::string url = std::string(c.scheme) + "://127.0.0.1:" + server.port();
        start({"decode", url, "--port", "0=text", "--port", "1=dec"});
        ASSERT_TRUE(server->waitForClients(1, stream::test::kPatience));
        for (size_t at = 0; at < trace.size(); at += 15) {
            server->publish(trace.data() + at, std::min<size_t>(15, trace.size() - at));
        }
        server->stop();
        EXPECT_EQ(finish(), 0) << err.str();
        EXPECT_EQ(out.str(), shown);
        // The scripted clock stands still: no span, no rate.
        EXPECT_NE(
            err.str().find("decoded " + std::to_string(trace.size()) + " bytes, 12 packets\n"),
            std::string::npos)
            << err.str();
        EXPECT_NE(err.str().find("  from " + url + ": the server closed the stream\n" + c.frames +
                                 "  health: too little trace to judge (45 bytes)\n"),
                  std::string::npos)
            << err.str();
    }
}

TEST_F(ServeTest, AFrameInputDecodesTheChosenTagAndSkipsBadFrames) {
    // Frames made by hand, sent on a raw port: the trace in tag 2, other tags, a damaged frame.
    OwnServer server(stream::StreamKind::Raw);
    test::ItmStream first, second, other;
    first.text(0, "one\n");
    second.text(0, "two\n");
    other.text(0, "not this\n");
    Bytes wire;
    auto frame = [&](uint8_t tag, const Bytes& payload, bool damaged = false) {
        uint8_t encoded[stream::kMaxEncodedFrame];
        const size_t size = stream::encodeFrame(tag, payload.data(), payload.size(), encoded);
        encoded[1] ^= damaged ? 0x40 : 0;  // a payload byte: the check no longer matches
        wire.insert(wire.end(), encoded, encoded + size);
    };
    frame(2, first.bytes());
    frame(1, other.bytes());
    frame(2, other.bytes(), true);
    frame(2, second.bytes());

    start({"decode", "frames://127.0.0.1:" + server.port(), "--tag", "2"});
    ASSERT_TRUE(server->waitForClients(1, stream::test::kPatience));
    server->publish(wire.data(), wire.size());
    server->stop();
    EXPECT_EQ(finish(), 0) << err.str();
    EXPECT_EQ(out.str(), "[0] one\n[0] two\n");
    EXPECT_NE(err.str().find("  frames: 2 of tag 2, 1 of other tags skipped, 1 that did not "
                             "decode\n"),
              std::string::npos)
        << err.str();
}

TEST_F(ServeTest, DecodeOfAnUnreachableServerNamesItAndFails) {
    const HeldPort nobody(false);
    EXPECT_EQ(run({"decode", "tcp://127.0.0.1:" + nobody.text()}), kExitFailure);
    EXPECT_EQ(err.str(), "dravik-swv: cannot connect to tcp://127.0.0.1:" + nobody.text() +
                             ": Connection refused\n");
    EXPECT_EQ(out.str(), "");
}

TEST_F(ServeTest, DecodeTurnedAwayByAFullServerSaysWhy) {
    OwnServer server(stream::StreamKind::Raw, 0);
    EXPECT_EQ(run({"decode", "tcp://127.0.0.1:" + server.port()}), 0) << err.str();
    EXPECT_NE(err.str().find("  from tcp://127.0.0.1:" + server.port() +
                             ": the server closed the stream before sending anything (a server "
                             "at its limit of clients refuses so)\n  health: no trace arrived\n"),
              std::string::npos)
        << err.str();
}

TEST_F(ServeTest, CtrlCEndsANetworkDecodeWithItsSummary) {
    OwnServer server(stream::StreamKind::Raw);
    const std::string url = "tcp://127.0.0.1:" + server.port();
    start({"decode", url, "-v"});
    ASSERT_TRUE(waitForErr("dravik-swv: connected to " + url + "\n"));
    stopRequests.store(1);
    EXPECT_EQ(finish(), 0) << err.str();
    EXPECT_NE(err.str().find("decoded 0 bytes, 0 packets\n"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("  from tcp://127.0.0.1:" + server.port() + ": stopped\n"),
              std::string::npos)
        << err.str();
}

}  // namespace
}  // namespace dravik::swv
