#include "dravik/profile/Profiler.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace dravik::profile {

namespace {

double shareOf(uint64_t part, uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

}  // namespace

void Profiler::Tally::clear() {
    std::fill(functions.begin(), functions.end(), 0);
    std::fill(lines.begin(), lines.end(), 0);
    sleep = unknown = unknownLine = overflows = gaps = 0;
    exceptions.fill({});
    seconds = 0;
}

void Profiler::Tally::addTo(Tally& total) const {
    for (size_t i = 0; i < functions.size(); ++i) {
        total.functions[i] += functions[i];
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        total.lines[i] += lines[i];
    }
    total.sleep += sleep;
    total.unknown += unknown;
    total.unknownLine += unknownLine;
    total.overflows += overflows;
    total.gaps += gaps;
    for (size_t i = 0; i < exceptions.size(); ++i) {
        const ExceptionTally& e = exceptions[i];
        ExceptionTally& t = total.exceptions[i];
        t.count += e.count;
        t.timed += e.timed;
        t.sumTicks += e.sumTicks;
        t.maxTicks = std::max(t.maxTicks, e.maxTicks);
    }
    total.seconds += seconds;
}

Profiler::Profiler(const SymbolTable& symbols, ProfilerOptions options)
    : symbols_(symbols), options_(options) {
    if (options_.lines) {
        buildLineKeys();
    }
    for (Tally* t : {&current_, &total_}) {
        t->functions.assign(symbols_.functions().size(), 0);
        t->lines.assign(lineKeys_.size(), 0);
    }
}

// A line's code may be spread over several ranges (a loop's test, inlined copies), so the line
// table's ranges are folded into one key per line and function.
void Profiler::buildLineKeys() {
    std::map<std::tuple<uint32_t, uint32_t, size_t>, uint32_t> index;
    constexpr size_t kNoFunction = SIZE_MAX;
    for (const LineRange& range : symbols_.lines()) {
        const std::optional<size_t> function = symbols_.functionIndexAt(range.address);
        const auto key = std::make_tuple(range.file, range.line, function.value_or(kNoFunction));
        const auto [it, added] = index.emplace(key, static_cast<uint32_t>(lineKeys_.size()));
        if (added) {
            lineKeys_.push_back({range.file, range.line, function});
        }
        lineKeyOfRange_.push_back(it->second);
    }
}

void Profiler::addSample(uint32_t pc) {
    if (const std::optional<size_t> f = symbols_.functionIndexAt(pc)) {
        ++current_.functions[*f];
    } else {
        ++current_.unknown;
    }
    if (options_.lines) {
        if (const std::optional<size_t> r = symbols_.lineIndexAt(pc)) {
            ++current_.lines[lineKeyOfRange_[*r]];
        } else {
            ++current_.unknownLine;
        }
    }
}

void Profiler::addSleepSample() {
    ++current_.sleep;
}

void Profiler::countExceptionEvents() {
    for (const ExceptionEvent& e : events_) {
        ExceptionTally& t = current_.exceptions[e.number];
        if (e.kind == ExceptionEvent::Kind::Entered) {
            ++t.count;
        } else if (const std::optional<uint64_t> d = e.durationTicks()) {
            ++t.timed;
            t.sumTicks += *d;
            t.maxTicks = std::max(t.maxTicks, *d);
        }
    }
    events_.clear();
}

void Profiler::add(const itm::Packet& packet, std::optional<uint64_t> ticks) {
    switch (packet.kind) {
        case itm::PacketKind::PeriodicPc:
            addSample(static_cast<uint32_t>(packet.value));
            return;
        case itm::PacketKind::PeriodicPcSleep:
            addSleepSample();
            return;
        case itm::PacketKind::ExceptionTrace:
            tracker_.add(packet, ticks, events_);
            countExceptionEvents();
            return;
        case itm::PacketKind::Overflow:
            ++current_.overflows;
            tracker_.abandonAll(ticks, events_);
            countExceptionEvents();
            return;
        default:
            return;
    }
}

void Profiler::noteGap() {
    ++current_.gaps;
    tracker_.abandonAll(std::nullopt, events_);
    countExceptionEvents();
}

ProfileReport Profiler::takeInterval(double seconds) {
    current_.seconds = seconds;
    ++intervals_;
    ProfileReport r = report(current_, ReportScope::Interval, intervals_);
    current_.addTo(total_);
    current_.clear();
    return r;
}

ProfileReport Profiler::total() const {
    return report(total_, ReportScope::Run, intervals_);
}

ProfileReport Profiler::report(const Tally& tally, ReportScope scope, uint64_t interval) const {
    ProfileReport r;
    r.scope = scope;
    r.interval = interval;
    r.seconds = tally.seconds;
    r.timestampHz = options_.timestampHz;
    r.sleepSamples = tally.sleep;
    r.unknownSamples = tally.unknown;
    r.overflows = tally.overflows;
    r.gaps = tally.gaps;
    uint64_t inFunctions = 0;
    for (uint64_t n : tally.functions) {
        inFunctions += n;
    }
    r.samples = inFunctions + tally.sleep + tally.unknown;
    r.sleepShare = shareOf(tally.sleep, r.samples);
    r.unknownShare = shareOf(tally.unknown, r.samples);

    const std::vector<FunctionSymbol>& functions = symbols_.functions();
    for (size_t i = 0; i < tally.functions.size(); ++i) {
        if (tally.functions[i] != 0) {
            const FunctionSymbol& f = functions[i];
            r.functions.push_back({f.name, f.address, f.size, tally.functions[i],
                                   shareOf(tally.functions[i], r.samples)});
        }
    }
    // Ties keep address order: the sort is stable and the rows start in address order.
    std::stable_sort(
        r.functions.begin(), r.functions.end(),
        [](const FunctionShare& a, const FunctionShare& b) { return a.samples > b.samples; });

    r.hasLines = options_.lines;
    if (options_.lines) {
        for (size_t k = 0; k < tally.lines.size(); ++k) {
            if (tally.lines[k] != 0) {
                const LineKey& key = lineKeys_[k];
                r.lines.push_back({symbols_.files()[key.file], key.line,
                                   key.function ? functions[*key.function].name : std::string(),
                                   tally.lines[k], shareOf(tally.lines[k], r.samples)});
            }
        }
        std::sort(r.lines.begin(), r.lines.end(), [](const LineShare& a, const LineShare& b) {
            return std::tie(b.samples, a.file, a.line, a.function) <
                   std::tie(a.samples, b.file, b.line, b.function);
        });
        r.unknownLineSamples = tally.unknownLine;
        r.unknownLineShare = shareOf(tally.unknownLine, r.samples);
    }

    for (unsigned n = 0; n < kExceptionCount; ++n) {
        const ExceptionTally& t = tally.exceptions[n];
        if (t.count == 0 && t.timed == 0) {
            continue;
        }
        ExceptionSummary e;
        e.number = n;
        e.name = exceptionName(n);
        e.count = t.count;
        e.perSecond = tally.seconds > 0 ? static_cast<double>(t.count) / tally.seconds : 0;
        e.timed = t.timed;
        if (t.timed != 0) {
            e.meanTicks = static_cast<double>(t.sumTicks) / static_cast<double>(t.timed);
            e.maxTicks = t.maxTicks;
            if (options_.timestampHz > 0) {
                e.meanSeconds = e.meanTicks / options_.timestampHz;
                e.maxSeconds = static_cast<double>(t.maxTicks) / options_.timestampHz;
            }
        }
        r.exceptions.push_back(std::move(e));
    }
    return r;
}

}  // namespace dravik::profile
