// decode: a recording (or a plain dump) through the same pipeline as a live capture, optionally
// at the pace it was recorded.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dravik/swv/CaptureStatus.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/HealthWarning.h"
#include "dravik/swv/OutputFiles.h"
#include "dravik/swv/RecordingReader.h"
#include "dravik/swv/TracePipeline.h"
#include "dravik/swv/TraceRegisterMap.h"

namespace dravik::swv {

namespace {

std::string describeHeader(const RecordingHeader& header) {
    char serial[kSerialFieldSize + 1] = {};
    std::memcpy(serial, header.serial, kSerialFieldSize);
    const char* protocol = header.pinProtocol == reg::kSpprNrz          ? "NRZ"
                           : header.pinProtocol == reg::kSpprManchester ? "Manchester"
                                                                        : "encoding not known";
    char text[320];
    std::snprintf(text, sizeof text,
                  "dravik-swv: recording v%u of %s: %u Hz / %u = %u bit/s, %s, ports 0x%08X, "
                  "ITM_TCR 0x%08X, started at %lld us after the epoch\n",
                  header.version, serial[0] != '\0' ? serial : "an unnamed probe",
                  header.traceClockHz, header.prescaler, header.swoRateBps, protocol,
                  header.stimulusMask, header.itmTcr, static_cast<long long>(header.startTimeUs));
    return text;
}

// A reader that went away (`| head`) ends the decode quietly; any other failed write is an error.
int outputFailed(ToolEnvironment& env, const TracePipeline& pipeline) {
    if (pipeline.mainFailed() && env.outputGone && env.outputGone()) {
        return kExitOk;
    }
    env.message("dravik-swv: cannot write to " + pipeline.failedStream() + "\n");
    return kExitFailure;
}

}  // namespace

int runDecode(ToolEnvironment& env, const DecodeOptions& options) {
    std::string error;
    RecordingReader reader;
    if (!reader.open(options.path, options.plain, error)) {
        env.message("dravik-swv: " + error + "\n");
        return kExitFailure;
    }
    PortFiles portFiles;
    if (!portFiles.open(options.output, error)) {
        env.message("dravik-swv: " + error + "\n");
        return kExitFailure;
    }
    const RecordingHeader& header = reader.header();
    if (options.verbose) {
        env.message(reader.plain() ? "dravik-swv: " + reader.name() + " is a plain dump\n"
                                   : describeHeader(header));
    }
    // Timestamps count the trace clock over TSPrescale; --clock stands in for a plain dump's.
    double timestampHz = 0;
    if (options.clockHz != 0) {
        timestampHz = timestampClockHz(options.clockHz, reader.plain() ? 0 : header.itmTcr);
    } else if (!reader.plain() && header.traceClockHz != 0) {
        timestampHz = timestampClockHz(header.traceClockHz, header.itmTcr);
    }
    const uint32_t mask =
        reader.plain() || header.stimulusMask == 0 ? 0xFFFFFFFF : header.stimulusMask;
    TracePipeline pipeline(pipelineConfig(options.output, portFiles, mask, timestampHz), &env.out);

    HealthAdvice advice;
    advice.live = false;
    if (!reader.plain()) {
        advice.clockHz = header.traceClockHz;
        advice.prescaler = header.prescaler;
    }
    bool warned = false;

    const uint64_t startUs = env.clock.nowUs();
    uint64_t lastTimeUs = 0;
    int status = kExitOk;
    Record record;
    while (!env.stopRequested()) {
        const RecordingReader::Status next = reader.next(record);
        if (next == RecordingReader::Status::End) {
            break;
        }
        if (next == RecordingReader::Status::Truncated) {
            env.message("dravik-swv: " + reader.name() + " ends inside a record header\n");
            break;
        }
        if (next == RecordingReader::Status::Error) {
            env.message("dravik-swv: " + reader.error() + "\n");
            status = kExitFailure;
            break;
        }
        const std::optional<uint64_t> hostUs =
            record.timeKnown ? std::optional<uint64_t>(record.timeUs) : std::nullopt;
        if (options.realtime && record.timeKnown) {
            const uint64_t due = startUs + record.timeUs;
            const uint64_t now = env.clock.nowUs();
            if (due > now) {
                env.clock.sleepUs(due - now);
            }
        }
        if (record.timeKnown) {
            lastTimeUs = std::max(lastTimeUs, record.timeUs);
        }
        switch (record.type) {
            case RecordType::Data:
                pipeline.data(record.data.data(), record.data.size(), hostUs);
                break;
            case RecordType::Gap:
                pipeline.gap(record.cause, record.lostBytes, hostUs);
                break;
            case RecordType::End:
                break;
        }
        if (!pipeline.flush()) {
            return outputFailed(env, pipeline);
        }
        if (pipeline.takeHealthAlarm()) {
            warned = true;
            env.message(healthWarning(pipeline.health().verdict(), advice));
        }
    }
    pipeline.finish();
    if (!pipeline.flush()) {
        return outputFailed(env, pipeline);
    }
    if (reader.dataTruncated()) {
        env.message("dravik-swv: the last data record of " + reader.name() +
                    " is cut short; decoded what is there\n");
    }
    if (!reader.plain() && !reader.sawEnd() && status == kExitOk && !env.stopRequested()) {
        env.message("dravik-swv: " + reader.name() +
                    " has no end record: the capture was cut short\n");
    }
    const HealthVerdict verdict = pipeline.health().verdict();
    if (verdict.unhealthy() && !warned) {
        env.message(healthWarning(verdict, advice));
    }
    StatusSnapshot summary = snapshotFrom(pipeline.counters());
    summary.elapsedSeconds = static_cast<double>(lastTimeUs) / 1e6;
    summary.health = verdict;
    env.message(formatSummary(summary, "decoded"));
    const bool trusted = !verdict.unhealthy() && verdict.condition != StreamCondition::NoTrace;
    return status == kExitOk && options.strict && !trusted ? kExitFailure : status;
}

}  // namespace dravik::swv
