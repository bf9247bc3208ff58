// Counts decoded trace packets into a profile: PC samples per function (and per source line),
// sleep samples, samples outside every function ("unknown", never dropped), and exceptions with
// their entry-to-exit times. Counting is per interval; closing one adds it to the run's totals.
//
//     dravik::profile::ProfilerOptions options;
//     options.timestampHz = 72e6;
//     dravik::profile::Profiler profiler(symbols, options);
//     for each packet with its target time (e.g. swv::PacketTimer's TimedPacket):
//         profiler.add(timed.packet, timed.ticks);
//     every interval:  render(profiler.takeInterval(secondsSinceLastOne));
//     at the end:      render(profiler.takeInterval(rest)); render(profiler.total());
//
// `ticks` is the target time in timestamp-clock ticks from any fixed origin (nullopt when local
// timestamps are off); it only matters for exception durations.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "dravik/itm/Packet.h"
#include "dravik/profile/ExceptionTracker.h"
#include "dravik/profile/ProfileReport.h"
#include "dravik/profile/SymbolTable.h"

namespace dravik::profile {

struct ProfilerOptions {
    bool lines = false;      // attribute samples to source lines too
    double timestampHz = 0;  // the local timestamp clock; 0: durations in ticks only
};

class Profiler {
  public:
    // `symbols` must outlive the profiler.
    Profiler(const SymbolTable& symbols, ProfilerOptions options);

    // Periodic PC samples (both forms), exception traces and overflows count; every other kind
    // is ignored.
    void add(const itm::Packet& packet, std::optional<uint64_t> ticks);
    void addSample(uint32_t pc);
    void addSleepSample();
    // The host lost trace here (a gap record): exceptions in flight lose their pairing.
    void noteGap();

    // Closes the interval, which lasted `seconds`, and returns its report. An exception entered
    // in one interval and left in the next is counted in the first and timed in the second.
    ProfileReport takeInterval(double seconds);
    // Every closed interval together.
    ProfileReport total() const;

  private:
    struct ExceptionTally {
        uint64_t count = 0;
        uint64_t timed = 0;
        uint64_t sumTicks = 0;
        uint64_t maxTicks = 0;
    };
    struct Tally {
        std::vector<uint64_t> functions;  // by index into the symbol table's functions
        std::vector<uint64_t> lines;      // by line key
        uint64_t sleep = 0;
        uint64_t unknown = 0;
        uint64_t unknownLine = 0;
        uint64_t overflows = 0;
        uint64_t gaps = 0;
        std::array<ExceptionTally, kExceptionCount> exceptions{};
        double seconds = 0;

        void clear();
        void addTo(Tally& total) const;
    };
    // One row of the line table: a source line within one function.
    struct LineKey {
        uint32_t file;
        uint32_t line;
        std::optional<size_t> function;
    };

    void buildLineKeys();
    void countExceptionEvents();
    ProfileReport report(const Tally& tally, ReportScope scope, uint64_t interval) const;

    const SymbolTable& symbols_;
    ProfilerOptions options_;
    std::vector<LineKey> lineKeys_;
    std::vector<uint32_t> lineKeyOfRange_;  // by index into the symbol table's lines
    ExceptionTracker tracker_;
    std::vector<ExceptionEvent> events_;  // reused for each exception packet
    Tally current_;
    Tally total_;
    uint64_t intervals_ = 0;
};

}  // namespace dravik::profile
