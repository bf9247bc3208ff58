#include "dravik/swv/TraceListening.h"

#include <algorithm>

#include "DravikTrace.h"
#include "dravik/swv/PollInterval.h"
#include "dravik/swv/TracePipeline.h"

namespace dravik::swv {

std::optional<Listening> listenToTrace(ToolEnvironment& env, ProbeSession& session,
                                       const RateChoice& rate, uint32_t stimulusMask,
                                       bool keepReads, const ListenLimits& limits) {
    PipelineConfig config;
    config.quiet = true;
    config.enabledMask = stimulusMask;
    TracePipeline pipeline(config, nullptr);
    // Polled often enough that the probe's buffer cannot fill at the line's full rate.
    const uint64_t pauseUs =
        PollInterval(DRAVIK_TRACE_BUFFER_SIZE, swoLineBytesPerSecond(rate.actualBps)).ceilingUs();
    std::vector<char> buffer(DRAVIK_TRACE_BUFFER_SIZE + 96);
    Listening listening;
    listening.startUs = env.clock.nowUs();
    auto more = [&] {
        const bool minimum = listening.polls < limits.minPolls;
        const bool time = env.clock.nowUs() - listening.startUs < limits.us;
        const bool bytes = pipeline.counters().bytes < limits.enoughBytes;
        return !env.stopRequested() && (minimum || (time && bytes));
    };
    while (more()) {
        int length = static_cast<int>(buffer.size());
        const int result = env.api.readSwvData(buffer.data(), 0, &length);
        const uint64_t hostUs = env.clock.nowUs() - listening.startUs;
        ++listening.polls;
        if (result == DRAVIK_OK && length > 0) {
            const auto* bytes = reinterpret_cast<const uint8_t*>(buffer.data());
            const size_t size =
                static_cast<size_t>(std::min<int>(length, DRAVIK_TRACE_BUFFER_SIZE + 96));
            pipeline.data(bytes, size, hostUs);
            if (keepReads) {
                listening.reads.push_back(
                    HeardRead{hostUs, GapCause::None, std::vector<uint8_t>(bytes, bytes + size)});
            }
        } else if (result == DRAVIK_REFUSED) {
            pipeline.gap(GapCause::ProbeDropped, 0, hostUs);
            if (keepReads) {
                listening.reads.push_back(HeardRead{hostUs, GapCause::ProbeDropped, {}});
            }
        } else if (result != DRAVIK_OK) {
            session.reportFailure("DravikReadSWVData", result);
            return std::nullopt;
        }
        env.clock.sleepUs(pauseUs);
    }
    pipeline.finish();
    listening.verdict = pipeline.health().verdict();
    listening.packets = pipeline.counters().packets;
    listening.seconds = static_cast<double>(env.clock.nowUs() - listening.startUs) / 1e6;
    return listening;
}

}  // namespace dravik::swv
