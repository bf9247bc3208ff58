// decode: a recording (or a plain dump) through the same pipeline as a live capture, optionally
// at the pace it was recorded.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "DecodeEnding.h"
#include "dravik/swv/CaptureStatus.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/HealthWarning.h"
#include "dravik/swv/OutputFiles.h"
#include "dravik/swv/RecordingReader.h"
#include "dravik/swv/TracePipeline.h"
#include "dravik/swv/TraceRegisterMap.h"

namespace dravik::swv {

namespace {

constexpr uint64_t kReplayStepUs = 100000;

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

}  // namespace

int outputFailed(ToolEnvironment& env, const TracePipeline& pipeline) {
    if (pipeline.mainFailed() && env.outputGone && env.outputGone()) {
        return kExitOk;
    }
    env.message("dravik-swv: cannot write to " + pipeline.failedStream() + "\n");
    return kExitFailure;
}

int endDecode(ToolEnvironment& env, const TracePipeline& pipeline, const DecodeEnding& ending) {
    const HealthVerdict verdict = pipeline.health().verdict();
    if (verdict.unhealthy() && !ending.warned) {
        env.message(healthWarning(verdict, ending.advice));
    }
    StatusSnapshot summary = snapshotFrom(pipeline.counters());
    summary.elapsedSeconds = ending.seconds;
    summary.details = ending.details;
    summary.health = verdict;
    env.message(formatSummary(summary, "decoded"));
    const bool trusted = !verdict.unhealthy() && verdict.condition != StreamCondition::NoTrace;
    return ending.status == kExitOk && ending.strict && !trusted ? kExitFailure : ending.status;
}

int runDecode(ToolEnvironment& env, const DecodeOptions& options) {
    if (options.url) {
        return runNetworkDecode(env, options);
    }
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
    // Timestamps count the trace clock (local ones over TSPrescale); --clock stands in for a
    // plain dump's, or corrects a recording's.
    const uint32_t clockHz = options.clockHz != 0 ? options.clockHz
                             : reader.plain()     ? 0
                                                  : header.traceClockHz;
    TargetClocks clocks;
    clocks.globalHz = clockHz;
    clocks.timestampHz =
        clockHz == 0 ? 0 : timestampClockHz(clockHz, reader.plain() ? 0 : header.itmTcr);
    const uint32_t mask =
        reader.plain() || header.stimulusMask == 0 ? 0xFFFFFFFF : header.stimulusMask;
    // A recording with timestamps shows its target time, as its capture did.
    OutputOptions output = options.output;
    if (!output.time && !reader.plain() && (header.itmTcr & reg::kItmTcrTsena) != 0) {
        output.time = TimeSource::Target;
    }
    MainOutput main;
    main.terminal = env.outIsTerminal;
    main.noColorSet = env.noColorSet;
    // Replayed at its pace, a recording shows unfinished lines as the capture did.
    main.live = env.outIsTerminal && options.realtime;
    if (!reader.plain() && header.startTimeUs != 0) {
        main.startWallUs = header.startTimeUs;
    }
    TracePipeline pipeline(pipelineConfig(output, portFiles, mask, clocks, main), &env.out);

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
            // Waits for the record's time, showing on the way what waited long enough.
            // Slept in short steps, so that Ctrl-C need not wait for a record far ahead.
            const uint64_t due = startUs + record.timeUs;
            for (uint64_t now = env.clock.nowUs(); due > now && !env.stopRequested();
                 now = env.clock.nowUs()) {
                pipeline.tick(now - startUs);
                if (!pipeline.flush()) {
                    return outputFailed(env, pipeline);
                }
                const std::optional<uint64_t> next = pipeline.nextDueUs();
                uint64_t until =
                    next && startUs + *next > now ? std::min(due, startUs + *next) : due;
                until = std::min(until, now + kReplayStepUs);
                env.clock.sleepUs(until - now);
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
            // A row left open on the same terminal is ended first.
            if (env.outIsTerminal && pipeline.mainRowOpen()) {
                pipeline.closeMainRow();
                if (!pipeline.flush()) {
                    return outputFailed(env, pipeline);
                }
            }
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
    DecodeEnding ending;
    ending.advice = advice;
    ending.warned = warned;
    ending.seconds = static_cast<double>(lastTimeUs) / 1e6;
    ending.strict = options.strict;
    ending.status = status;
    return endDecode(env, pipeline, ending);
}

}  // namespace dravik::swv
