// Fan-out of the live trace: the stream server publishes a 24 Mbit/s stream in real time, in
// pieces the size a capture's drain delivers, to 8 loopback clients that read as fast as they
// can, first on a raw port, then on a frame port. Every client checks every byte against the
// pattern published, so what was lost is counted exactly on both sides. The server's CPU is its
// network thread's CPU time plus the publisher's inside publish().
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchMain.h"
#include "dravik/stream/Frame.h"
#include "dravik/stream/StreamServer.h"

namespace dravik::bench {
namespace {

using stream::StreamKind;

constexpr double kLineBitsPerSecond = 24e6;
// 24 Mbit/s of trace bytes: more than a 24 Mbit/s SWO line carries (its NRZ frames take 10 bits
// a byte), so the figure holds for the line with room to spare.
constexpr double kBytesPerSecond = kLineBitsPerSecond / 8;
constexpr size_t kClients = 8;
// A publish every millisecond: about what the drain delivers per poll at this rate.
constexpr auto kPublishPeriod = std::chrono::microseconds(1000);
// Not a multiple of any piece, so that the clients' check sees every offset.
constexpr size_t kPatternBytes = (1u << 20) + 7;
constexpr double kGoalCpuShare = 0.05;  // of one core, for the whole server

double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::vector<uint8_t> Pattern() {
    std::vector<uint8_t> bytes(kPatternBytes);
    uint32_t x = 2463534242u;
    for (uint8_t& byte : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<uint8_t>(x % 7 == 0 ? 0 : x);
    }
    return bytes;
}

// Reads one connection to its end and checks every trace byte against the pattern.
class CheckingClient {
  public:
    CheckingClient(uint16_t port, StreamKind kind, const std::vector<uint8_t>& pattern)
        : kind_(kind), pattern_(pattern) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        thread_ = std::thread([this] { run(); });
    }
    ~CheckingClient() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    bool connected() const { return connected_; }
    uint64_t traceBytes() const { return position_; }
    uint64_t mismatches() const { return mismatches_; }
    uint64_t badFrames() const { return frames_.stats().badFrames; }
    bool ended() const { return ended_.load(); }

  private:
    void check(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            mismatches_ += data[i] != pattern_[at_] ? 1 : 0;
            at_ = at_ + 1 == pattern_.size() ? 0 : at_ + 1;
        }
        position_ += size;
    }
    void run() {
        std::vector<uint8_t> buffer(65536);
        while (connected_) {
            const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                break;
            }
            if (kind_ == StreamKind::Raw) {
                check(buffer.data(), static_cast<size_t>(got));
            } else {
                frames_.feed(buffer.data(), static_cast<size_t>(got),
                             [&](const stream::DecodedFrame& f) { check(f.payload, f.size); });
            }
        }
        ended_.store(true);
    }

    StreamKind kind_;
    const std::vector<uint8_t>& pattern_;
    int fd_ = -1;
    bool connected_ = false;
    std::thread thread_;
    stream::FrameReader frames_;
    size_t at_ = 0;
    uint64_t position_ = 0;
    uint64_t mismatches_ = 0;
    std::atomic<bool> ended_{false};
};

struct FanOutFigures {
    std::string error;
    double seconds = 0;
    uint64_t published = 0;
    uint64_t publishes = 0;
    uint64_t deliveredToAll = 0;  // trace bytes, summed over the clients
    uint64_t leastDelivered = 0;
    uint64_t lost = 0;  // published minus received, summed over the clients
    uint64_t serverDropped = 0;
    uint64_t mismatches = 0;
    uint64_t badFrames = 0;
    double setupCpu = 0;  // the network thread's, before publishing began
    double networkCpu = 0;
    double publishCpu = 0;
    double serverCpu() const { return networkCpu + publishCpu; }
};

FanOutFigures FanOut(StreamKind kind, double seconds) {
    FanOutFigures f;
    static const std::vector<uint8_t> pattern = Pattern();
    stream::ServerOptions options;
    options.listeners.push_back({kind, stream::ListenAddress{}});
    options.flushTimeout = std::chrono::seconds(10);
    stream::StreamServer server(options);
    if (!server.start(f.error)) {
        return f;
    }
    std::vector<std::unique_ptr<CheckingClient>> clients;
    for (size_t i = 0; i < kClients; ++i) {
        clients.push_back(
            std::make_unique<CheckingClient>(server.listeners()[0].port, kind, pattern));
        if (!clients.back()->connected()) {
            f.error = "a client could not connect";
            return f;
        }
    }
    if (!server.waitForClients(kClients, std::chrono::seconds(30))) {
        f.error = "the server did not take every client";
        return f;
    }

    // Taking the clients in (their queues are allocated and touched) is not the stream's cost.
    f.setupCpu = server.networkCpuSeconds();
    size_t at = 0;
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    for (;;) {
        next += kPublishPeriod;
        std::this_thread::sleep_until(next);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const uint64_t due = static_cast<uint64_t>(std::min(elapsed, seconds) * kBytesPerSecond);
        while (f.published < due) {
            const size_t size =
                static_cast<size_t>(std::min<uint64_t>(due - f.published, pattern.size() - at));
            const double before = ThreadCpuSeconds();
            server.publish(pattern.data() + at, size);
            f.publishCpu += ThreadCpuSeconds() - before;
            ++f.publishes;
            f.published += size;
            at = at + size == pattern.size() ? 0 : at + size;
        }
        if (elapsed >= seconds) {
            f.seconds = elapsed;
            break;
        }
    }
    server.stop();
    f.networkCpu = server.networkCpuSeconds() - f.setupCpu;
    for (const stream::ClientStats& stats : server.clients()) {
        f.serverDropped += stats.traceBytesDropped;
    }
    f.leastDelivered = f.published;
    for (const auto& client : clients) {
        // The server closed every connection; each client reads what is left, then ends.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!client->ended() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!client->ended()) {
            f.error = "a client did not see the end of its stream";
        }
    }
    for (const auto& client : clients) {
        f.deliveredToAll += client->traceBytes();
        f.leastDelivered = std::min(f.leastDelivered, client->traceBytes());
        f.lost += f.published - std::min(f.published, client->traceBytes());
        f.mismatches += client->mismatches();
        f.badFrames += client->badFrames();
    }
    if (f.error.empty() && f.published == 0) {
        f.error = "nothing was published";
    }
    return f;
}

void FanOutBenchmark(benchmark::State& state, StreamKind kind) {
    const std::string key = Format("6 fan-out %s", stream::streamKindName(kind));
    const double seconds = static_cast<double>(settings().drainMs) / 1000.0;
    FanOutFigures f;
    for (auto _ : state) {
        f = FanOut(kind, seconds);
    }
    if (!f.error.empty()) {
        ReportFailure(key, f.error);
        state.SkipWithError(f.error.c_str());
        return;
    }
    const double mbDelivered = static_cast<double>(f.deliveredToAll) / 1e6;
    const double cpuPerMB = f.serverCpu() / mbDelivered;
    const double share = f.serverCpu() / f.seconds;
    state.counters["published"] = static_cast<double>(f.published);
    state.counters["lost"] = static_cast<double>(f.lost);
    state.counters["server_cpu_ms_per_MB"] = cpuPerMB * 1e3;
    state.counters["server_cpu_pct"] = share * 100;
    const bool lossless =
        f.lost == 0 && f.serverDropped == 0 && f.mismatches == 0 && f.badFrames == 0;
    Report(key + " a",
           Format("Fig. 6  %s port, %zu clients, %.1f Mbit/s for %.1f s: published %llu bytes in "
                  "%llu calls, least delivered %llu, lost %llu (server dropped %llu), wrong "
                  "bytes %llu, bad frames %llu (loss goal 0: %s)",
                  stream::streamKindName(kind), kClients,
                  static_cast<double>(f.published) * 8 / f.seconds / 1e6, f.seconds,
                  static_cast<unsigned long long>(f.published),
                  static_cast<unsigned long long>(f.publishes),
                  static_cast<unsigned long long>(f.leastDelivered),
                  static_cast<unsigned long long>(f.lost),
                  static_cast<unsigned long long>(f.serverDropped),
                  static_cast<unsigned long long>(f.mismatches),
                  static_cast<unsigned long long>(f.badFrames), lossless ? "met" : "MISSED"));
    Report(
        key + " b",
        Format("Fig. 6  %s port: server CPU %.3f s (network thread %.3f s, publish %.3f s, "
               "%.2f us a call) = %.2f ms per MB delivered to all clients, %.2f %% of a core "
               "(goal < %.0f %%: %s); taking the clients in %.3f s",
               stream::streamKindName(kind), f.serverCpu(), f.networkCpu, f.publishCpu,
               f.publishCpu / static_cast<double>(f.publishes) * 1e6, cpuPerMB * 1e3, share * 100,
               kGoalCpuShare * 100, share < kGoalCpuShare ? "met" : "MISSED", f.setupCpu));
}

void RegisterAll() {
    for (StreamKind kind : {StreamKind::Raw, StreamKind::Frames}) {
        benchmark::RegisterBenchmark(
            (std::string("FanOut/") + stream::streamKindName(kind) + "/8clients/24Mbps").c_str(),
            FanOutBenchmark, kind)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kSecond);
    }
}

}  // namespace
}  // namespace dravik::bench

int main(int argc, char** argv) {
    return dravik::bench::RunBenchmarks(argc, argv, dravik::bench::RegisterAll);
}
