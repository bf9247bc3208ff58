// Decoder throughput on a recorded stream of mixed packets: the whole stream in one call against
// the same stream in chunks of 1, 64 and 4000 bytes, the packet callback against the batch call,
// and streams of 1 KiB up to the full size, to show that the cost grows linearly.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "BenchMain.h"
#include "SideBySide.h"
#include "TraceStream.h"
#include "dravik/itm/Decoder.h"

namespace dravik::bench {
namespace {

using itm::Decoder;
using itm::Packet;

constexpr double kGoalMBps = 500.0;
constexpr double kGoalChunkingSpread = 0.20;
constexpr size_t kBatchPackets = 4096;

size_t StreamBytes() {
    return static_cast<size_t>(settings().streamMiB) << 20;
}

// Streams are generated once per size and kept for the whole run.
const TraceStream& Stream(size_t size) {
    static std::map<size_t, TraceStream> streams;
    auto it = streams.find(size);
    if (it == streams.end()) {
        it = streams.emplace(size, MakeTraceStream(size)).first;
    }
    return it->second;
}

// `count` different streams of `size` bytes in one buffer, generated once per size.
const TraceStream& Pieces(size_t count, size_t size) {
    if (count == 1) {
        return Stream(size);
    }
    static std::map<size_t, TraceStream> pieces;
    auto it = pieces.find(size);
    if (it == pieces.end()) {
        it = pieces.emplace(size, MakeTraceStreams(count, size)).first;
    }
    return it->second;
}

double MBps(size_t bytes, double ns) {
    return static_cast<double>(bytes) * 1e3 / ns;
}

// What a light consumer does with each packet; the sum keeps the work from being optimised away.
struct Checksum {
    uint64_t sum = 0;
    void operator()(const Packet& p) { sum += p.value + static_cast<uint8_t>(p.kind); }
};

// Decodes the stream in pieces of `chunk` bytes (0: all in one call) with a fresh decoder.
uint64_t DecodeInChunks(const TraceStream& stream, size_t chunk, Decoder& decoder) {
    decoder.reset();
    Checksum checksum;
    const uint8_t* p = stream.bytes.data();
    const size_t size = stream.bytes.size();
    if (chunk == 0) {
        decoder.feed(p, size, checksum);
    } else {
        for (size_t offset = 0; offset < size; offset += chunk) {
            decoder.feed(p + offset, std::min(chunk, size - offset), checksum);
        }
    }
    decoder.finish();
    return checksum.sum;
}

// Decodes each `size`-byte stream in the buffer with a fresh decoder.
uint64_t DecodePieces(const TraceStream& pieces, size_t size, Decoder& decoder) {
    Checksum checksum;
    for (size_t offset = 0; offset < pieces.bytes.size(); offset += size) {
        decoder.reset();
        decoder.feed(pieces.bytes.data() + offset, size, checksum);
        decoder.finish();
    }
    return checksum.sum;
}

uint64_t DecodeInBatches(const TraceStream& stream, Decoder& decoder,
                         std::vector<Packet>& packets) {
    decoder.reset();
    uint64_t sum = 0;
    const uint8_t* p = stream.bytes.data();
    size_t left = stream.bytes.size();
    while (left != 0) {
        const itm::BatchResult r = decoder.decode(p, left, packets.data(), packets.size());
        for (size_t i = 0; i < r.packets; ++i) {
            sum += packets[i].value + static_cast<uint8_t>(packets[i].kind);
        }
        p += r.bytesConsumed;
        left -= r.bytesConsumed;
    }
    decoder.finish();
    return sum;
}

// Every packet the generator wrote must come out, and nothing else: a decoder that drops bytes
// would look fast.
std::string CheckDecoded(const TraceStream& stream, const Decoder& decoder) {
    const itm::DecoderStats& stats = decoder.stats();
    if (stats.discardedBytes != 0 || stats.malformedPackets != 0 || stats.truncatedPackets != 0) {
        return Format("%llu bytes discarded, %llu malformed, %llu truncated",
                      static_cast<unsigned long long>(stats.discardedBytes),
                      static_cast<unsigned long long>(stats.malformedPackets),
                      static_cast<unsigned long long>(stats.truncatedPackets));
    }
    for (size_t kind = 0; kind < itm::kPacketKindCount; ++kind) {
        if (stats.packets[kind] != stream.packets[kind]) {
            return Format("%llu packets of kind %s, %llu in the stream",
                          static_cast<unsigned long long>(stats.packets[kind]),
                          itm::packetKindName(static_cast<itm::PacketKind>(kind)),
                          static_cast<unsigned long long>(stream.packets[kind]));
        }
    }
    return {};
}

bool Failed(benchmark::State& state, const std::string& key, const std::string& why) {
    if (why.empty()) {
        return false;
    }
    ReportFailure(key, why);
    state.SkipWithError(why.c_str());
    return true;
}

void Chunking(benchmark::State& state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    const std::string key = Format("3 chunks %04zu", chunk);
    const TraceStream& stream = Stream(StreamBytes());
    Decoder whole;
    Decoder chunked;
    const uint64_t expected = DecodeInChunks(stream, 0, whole);
    if (Failed(state, key, CheckDecoded(stream, whole))) {
        return;
    }
    if (DecodeInChunks(stream, chunk, chunked) != expected) {
        Failed(state, key, "chunked decoding gave other packets");
        return;
    }
    if (Failed(state, key, CheckDecoded(stream, chunked))) {
        return;
    }
    SideBySide timing(Clock::ThreadCpu);
    for (auto _ : state) {
        timing.round(
            1, [&] { benchmark::DoNotOptimize(DecodeInChunks(stream, 0, whole)); },
            [&] { benchmark::DoNotOptimize(DecodeInChunks(stream, chunk, chunked)); });
    }
    const size_t bytes = stream.bytes.size();
    const double wholeMBps = MBps(bytes, timing.nsA());
    const double chunkedMBps = MBps(bytes, timing.nsB());
    const double ratio = chunkedMBps / wholeMBps;
    state.counters["whole_MBps"] = wholeMBps;
    state.counters["chunked_MBps"] = chunkedMBps;
    state.counters["ratio"] = ratio;
    state.SetBytesProcessed(static_cast<int64_t>(2 * bytes * state.iterations()));
    Report("3 whole",
           Format("Fig. 3  decoder, %zu MiB stream in one call: %.0f MB/s (goal >= "
                  "%.0f MB/s: %s)",
                  bytes >> 20, wholeMBps, kGoalMBps, wholeMBps >= kGoalMBps ? "met" : "MISSED"));
    const bool met = ratio >= 1.0 - kGoalChunkingSpread && ratio <= 1.0 + kGoalChunkingSpread;
    Report(key,
           Format("Fig. 3  decoder, %4zu-byte chunks: %.0f MB/s, %.2f of one call (goal "
                  "within %.0f%%: %s)",
                  chunk, chunkedMBps, ratio, 100 * kGoalChunkingSpread, met ? "met" : "MISSED"));
}

void Batch(benchmark::State& state) {
    const char* key = "3 zbatch";
    const TraceStream& stream = Stream(StreamBytes());
    Decoder callback;
    Decoder batch;
    std::vector<Packet> packets(kBatchPackets);
    if (DecodeInChunks(stream, 0, callback) != DecodeInBatches(stream, batch, packets)) {
        Failed(state, key, "batch decoding gave other packets");
        return;
    }
    if (Failed(state, key, CheckDecoded(stream, batch))) {
        return;
    }
    SideBySide timing(Clock::ThreadCpu);
    for (auto _ : state) {
        timing.round(
            1, [&] { benchmark::DoNotOptimize(DecodeInChunks(stream, 0, callback)); },
            [&] { benchmark::DoNotOptimize(DecodeInBatches(stream, batch, packets)); });
    }
    const size_t bytes = stream.bytes.size();
    const double callbackMBps = MBps(bytes, timing.nsA());
    const double batchMBps = MBps(bytes, timing.nsB());
    state.counters["callback_MBps"] = callbackMBps;
    state.counters["batch_MBps"] = batchMBps;
    state.counters["ratio"] = batchMBps / callbackMBps;
    state.SetBytesProcessed(static_cast<int64_t>(2 * bytes * state.iterations()));
    Report(key, Format("Fig. 3  decoder, batches of %zu packets: %.0f MB/s, %.2f of the callback",
                       kBatchPackets, batchMBps, batchMBps / callbackMBps));
}

// Streams of one size, each through a fresh decoder, as many as it takes to match the full
// stream's bytes, side by side with the full stream: the same throughput at every size means a
// cost linear in the size. The streams differ from one another, so that the branch predictor
// cannot learn a single small one by heart.
void Growth(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const std::string key = Format("5 stream %012zu", size);
    const TraceStream& full = Stream(StreamBytes());
    const size_t count = std::max<size_t>(1, full.bytes.size() / size);
    const TraceStream& pieces = Pieces(count, size);
    Decoder fullDecoder;
    Decoder pieceDecoder;
    DecodeInChunks(pieces, 0, pieceDecoder);  // whole packets only, so also a valid stream
    if (Failed(state, key, CheckDecoded(pieces, pieceDecoder))) {
        return;
    }
    SideBySide timing(Clock::ThreadCpu);
    for (auto _ : state) {
        timing.round(
            1, [&] { benchmark::DoNotOptimize(DecodePieces(pieces, size, pieceDecoder)); },
            [&] { benchmark::DoNotOptimize(DecodeInChunks(full, 0, fullDecoder)); });
    }
    const double piecesMBps = MBps(pieces.bytes.size(), timing.nsA());
    const double fullMBps = MBps(full.bytes.size(), timing.nsB());
    state.counters["MBps"] = piecesMBps;
    state.counters["full_MBps"] = fullMBps;
    state.counters["ratio"] = piecesMBps / fullMBps;
    const std::string label =
        size >= (size_t{1} << 20) ? Format("%zu MiB", size >> 20) : Format("%zu KiB", size >> 10);
    Report(key, Format("Fig. 5  decoder, %7s streams: %.0f MB/s, %.2f of the %zu MiB stream's",
                       label.c_str(), piecesMBps, piecesMBps / fullMBps, full.bytes.size() >> 20));
}

void RegisterAll() {
    benchmark::RegisterBenchmark("DecoderChunking", Chunking)
        ->ArgName("chunk")
        ->Arg(1)
        ->Arg(64)
        ->Arg(4000)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("DecoderBatch", Batch)->Unit(benchmark::kMillisecond);
    auto* growth = benchmark::RegisterBenchmark("DecoderGrowth", Growth);
    growth->ArgName("bytes")->Unit(benchmark::kMillisecond);
    // 1 KiB, 16 KiB, 256 KiB, 4 MiB ... and the full stream.
    size_t size = size_t{1} << 10;
    for (; size < StreamBytes(); size <<= 4) {
        growth->Arg(static_cast<int64_t>(size));
    }
    growth->Arg(static_cast<int64_t>(StreamBytes()));
}

// One decoding of the stream and nothing else, for an instruction count under callgrind
// (--toggle-collect='*DecodeOnce*'): on a shared machine timings cannot settle a difference
// of a few per cent, a count can. chunk as in DecodeInChunks; -1: the batch call.
__attribute__((noinline)) uint64_t DecodeOnce(const TraceStream& stream, long chunk) {
    Decoder decoder;
    std::vector<Packet> packets(kBatchPackets);
    return chunk < 0 ? DecodeInBatches(stream, decoder, packets)
                     : DecodeInChunks(stream, static_cast<size_t>(chunk), decoder);
}

// --count=CHUNK[,MIB] (default 4 MiB) runs DecodeOnce instead of the benchmarks.
int CountOnly(const char* arg) {
    char* end = nullptr;
    const long chunk = std::strtol(arg, &end, 10);
    const unsigned long mib = *end == ',' ? std::strtoul(end + 1, nullptr, 10) : 4;
    const TraceStream stream = MakeTraceStream(static_cast<size_t>(mib) << 20);
    std::printf("checksum %llu\n", static_cast<unsigned long long>(DecodeOnce(stream, chunk)));
    return 0;
}

}  // namespace
}  // namespace dravik::bench

int main(int argc, char** argv) {
    if (argc == 2 && std::strncmp(argv[1], "--count=", 8) == 0) {
        return dravik::bench::CountOnly(argv[1] + 8);
    }
    return dravik::bench::RunBenchmarks(argc, argv, dravik::bench::RegisterAll);
}
