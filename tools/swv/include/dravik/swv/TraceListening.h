// A short listen to the trace, read as a capture reads it and judged by the health check: how
// doctor checks a setup, and how a trace clock is tried. The target must run meanwhile.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "dravik/swv/ProbeSession.h"
#include "dravik/swv/RateSolver.h"
#include "dravik/swv/Recording.h"
#include "dravik/swv/StreamHealth.h"

namespace dravik::swv {

// One read as the library answered it.
struct HeardRead {
    uint64_t timeUs = 0;            // host time since the listening began
    GapCause gap = GapCause::None;  // ProbeDropped: the library discarded pending bytes (403)
    std::vector<uint8_t> bytes;
};

struct Listening {
    HealthVerdict verdict;
    uint64_t packets = 0;
    uint64_t polls = 0;
    double seconds = 0;
    uint64_t startUs = 0;          // env.clock when it began
    std::vector<HeardRead> reads;  // every read that brought bytes or a gap (keepReads)
};

struct ListenLimits {
    // Long enough for a few KiB at common rates, short enough not to be waited for.
    uint64_t us = 250000;
    // It ends sooner once the health check has two windows to judge...
    uint64_t enoughBytes = 2 * StreamHealth::kWindowBytes;
    // ...but never before this many polls: a host too busy to poll has not listened yet.
    uint64_t minPolls = 16;
};

// Polls the trace for a moment, as often as the line could fill a quarter of the probe's buffer.
// nullopt after a failed read (reported); a Ctrl-C ends it early with what it heard.
std::optional<Listening> listenToTrace(ToolEnvironment& env, ProbeSession& session,
                                       const RateChoice& rate, uint32_t stimulusMask,
                                       bool keepReads, const ListenLimits& limits = {});

}  // namespace dravik::swv
