// capture: select, set up, run, drain on a thread of its own, decode and write on this one, stop
// and close.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>

#include "DravikTrace.h"
#include "dravik/swv/CaptureStatus.h"
#include "dravik/swv/ChunkQueue.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/HealthWarning.h"
#include "dravik/swv/OutputFiles.h"
#include "dravik/swv/ProbeSession.h"
#include "dravik/swv/RecordingSink.h"
#include "dravik/swv/SinkThread.h"
#include "dravik/swv/ThreadPriority.h"
#include "dravik/swv/TraceDrain.h"
#include "dravik/swv/TracePipeline.h"
#include "dravik/swv/TraceRegisterMap.h"
#include "dravik/swv/TraceSetup.h"

namespace dravik::swv {

namespace {

constexpr uint64_t kStatusPeriodUs = 250000;
constexpr auto kPopWait = std::chrono::milliseconds(20);

// The live status line on a terminal, redrawn in place; taken away while other output goes to
// the same terminal and put back after it.
class StatusLine {
  public:
    StatusLine(ToolEnvironment& env, bool live) : env_(env), live_(live) {}

    void show(const std::string& line) {
        if (!live_) {
            return;
        }
        line_ = line;
        draw("\r\033[K" + line_);
        shown_ = true;
    }
    void clear() {
        if (live_ && shown_) {
            draw("\r\033[K");
            shown_ = false;
        }
    }
    void redraw() {
        if (live_ && !shown_ && !line_.empty()) {
            draw("\r\033[K" + line_);
            shown_ = true;
        }
    }
    bool live() const { return live_; }

  private:
    void draw(const std::string& text) {
        std::lock_guard<std::mutex> lock(env_.errMutex);
        env_.err << text;
        env_.err.flush();
    }

    ToolEnvironment& env_;
    bool live_;
    bool shown_ = false;
    std::string line_;
};

// The doctor run that checks the setup this capture used.
std::string doctorCommand(const CaptureOptions& options, const RateChoice& rate) {
    std::string command = "dravik-swv doctor";
    if (!options.selection.serial.empty()) {
        command += " --serial " + options.selection.serial;
    }
    command += " --clock " + std::to_string(rate.clockHz) + " --prescaler " +
               std::to_string(rate.prescaler);
    if (options.mode != TxMode::Nrz) {
        command += std::string(" --mode ") + txModeName(options.mode);
    }
    if (options.stimulusMask != 0xFFFFFFFF) {
        char mask[16];
        std::snprintf(mask, sizeof mask, "0x%X", options.stimulusMask);
        command += std::string(" --ports ") + mask;
    }
    return command;
}

StatusSnapshot captureStatus(const TracePipeline& pipeline, const DrainCounters& drain,
                             double elapsedSeconds, double bytesPerSecond) {
    StatusSnapshot status = snapshotFrom(pipeline.counters());
    // The drainer knows of losses before the chunks carrying them are decoded.
    status.bytes = drain.bytes;
    status.hostDrops = drain.probeDrops;
    status.readFailures = drain.readFailures;
    status.queueDropBytes = drain.queueDropBytes;
    status.bufferFullPolls = drain.bufferFullPolls;
    status.elapsedSeconds = elapsedSeconds;
    status.bytesPerSecond = bytesPerSecond;
    return status;
}

}  // namespace

int runCapture(ToolEnvironment& env, const CaptureOptions& options) {
    const std::optional<RateChoice> rate = chooseRate(env, options.rate);
    if (!rate) {
        return kExitUsage;
    }
    std::string error;
    PortFiles portFiles;
    RecordingSink recordings;
    if (!portFiles.open(options.output, error) ||
        !recordings.open(options.rawPath, options.rawPlainPath, error)) {
        env.message("dravik-swv: " + error + "\n");
        return kExitFailure;
    }

    ProbeSession session(env, options.verbose);
    if (!session.require({EntryPoint::EnumerateDevices, EntryPoint::SelectDevice,
                          EntryPoint::SetupDevice, EntryPoint::RunDevice, EntryPoint::ReadSwvData,
                          EntryPoint::StopSwvRead, EntryPoint::CloseDevice})) {
        return kExitFailure;
    }
    const std::optional<std::string> serial = session.chooseSerial(options.selection.serial);
    if (!serial || !session.select(*serial, options.selection)) {
        return kExitFailure;
    }
    const std::optional<SetupResult> setup = setUpTrace(
        session, *rate,
        TraceRequest{options.stimulusMask, options.mode, options.timestamps, !options.noSync});
    if (!setup) {
        return kExitFailure;
    }
    int coreStatus = 0;
    const int runResult = env.api.runDevice(&coreStatus);
    session.showStep("DravikRunDevice");
    if (runResult != DRAVIK_OK) {
        session.reportFailure("DravikRunDevice", runResult);
        return kExitFailure;
    }

    RecordingSettings settings;
    settings.traceClockHz = rate->clockHz;
    settings.prescaler = rate->prescaler;
    settings.stimulusMask = options.stimulusMask;
    settings.txModeFlags = static_cast<uint8_t>(options.mode);
    settings.pinProtocol = static_cast<uint8_t>(setup->pinProtocol.value_or(0));
    settings.itmTcr = setup->itmTcr.value_or(0);
    settings.startTimeUs = wallClockUs();
    settings.serial = serial->c_str();
    if (!recordings.start(makeRecordingHeader(settings))) {
        env.message("dravik-swv: " + recordings.error() + "\n");
        return kExitFailure;
    }

    const double timestampHz = setup->itmTcr && (*setup->itmTcr & reg::kItmTcrTsena) != 0
                                   ? timestampClockHz(rate->clockHz, *setup->itmTcr)
                                   : 0;
    TracePipeline pipeline(
        pipelineConfig(options.output, portFiles, options.stimulusMask, timestampHz), &env.out);

    const uint64_t startUs = env.clock.nowUs();
    ChunkQueue queue(env.queueChunks, TraceDrain::kReadBufferBytes);
    TraceDrain drain(env.api, queue, env.clock,
                     PollInterval(DRAVIK_TRACE_BUFFER_SIZE, swoLineBytesPerSecond(rate->actualBps)),
                     startUs);
    drain.setSpinAfterDataUs(env.drainSpinAfterDataUs);
    if (options.lockMemory) {
        // Before the threads start: the pages mapped now, the queue's reserve among them.
        const std::string failure = lockCurrentMemory();
        if (!failure.empty()) {
            env.message("dravik-swv: warning: --lock-memory: " + failure + "; capturing on\n");
        } else if (options.verbose) {
            env.message("dravik-swv: memory locked (mlockall)\n");
        }
    }
    // The recordings are written on a thread of their own, so that no poll waits for a file.
    SinkThread recordingWriter(recordings);
    if (recordings.any()) {
        recordingWriter.start();
        drain.addSink(recordingWriter);
    }
    // From here until the join, only the draining thread calls the library. It raises its own
    // priority and says what it got; this thread reports it (the drainer writes to no terminal).
    std::promise<ThreadPriority> priorityGot;
    std::future<ThreadPriority> priority = priorityGot.get_future();
    std::thread drainer([&drain, &priorityGot, raise = env.raiseDrainPriority] {
        priorityGot.set_value(raise ? raiseThreadPriority() : ThreadPriority{});
        drain.run();
    });
    if (const ThreadPriority got = priority.get(); options.verbose && env.raiseDrainPriority) {
        env.message("dravik-swv: draining thread: " + describe(got) + "\n");
    }

    HealthAdvice advice;
    advice.clockHz = rate->clockHz;
    advice.prescaler = rate->prescaler;
    advice.doctor = doctorCommand(options, *rate);
    bool warned = false;      // the health warning is given once
    bool warnedFull = false;  // and the first full probe buffer
    StatusLine status(env, env.errIsTerminal);
    RateMeter meter;
    uint64_t nextStatusUs = startUs;
    bool stopping = false;
    bool failed = false;
    bool readerGone = false;  // the reader of standard output went away (`| head`)
    uint64_t lastTimeUs = 0;
    auto stopOnce = [&] {
        if (!stopping) {
            stopping = true;
            drain.requestStop();
        }
    };
    auto fail = [&](const std::string& text) {
        status.clear();
        env.message(text);
        failed = true;
        stopOnce();
    };

    while (true) {
        std::unique_ptr<Chunk> chunk = queue.pop(kPopWait);
        if (chunk) {
            lastTimeUs = chunk->timeUs;
            const Losses& losses = chunk->lossesBefore;
            const uint64_t lossTime = losses.firstTimeUs;
            const struct {
                GapCause cause;
                uint64_t count;
                uint64_t lost;
            } gaps[] = {{GapCause::QueueFull, losses.queueFullBytes, losses.queueFullBytes},
                        {GapCause::ProbeDropped, losses.probeDrops, 0},
                        {GapCause::ReadFailure, losses.readFailures, 0}};
            for (const auto& gap : gaps) {
                // One marker per event, so a decode counts them as the capture did.
                const uint64_t markers =
                    gap.cause == GapCause::QueueFull ? (gap.count ? 1 : 0) : gap.count;
                for (uint64_t i = 0; i < markers; ++i) {
                    pipeline.gap(gap.cause, gap.lost, lossTime);
                }
            }
            if (!chunk->bytes.empty()) {
                pipeline.data(chunk->bytes.data(), chunk->bytes.size(), chunk->timeUs);
            }
            queue.recycle(std::move(chunk));
            if (pipeline.takeHealthAlarm() && !warned) {
                warned = true;
                status.clear();
                env.message(healthWarning(pipeline.health().verdict(), advice));
            }
            if (env.outIsTerminal) {
                status.clear();
            }
            if (!pipeline.flush()) {
                if (pipeline.mainFailed() && env.outputGone && env.outputGone()) {
                    // Nobody reads any more (`| head`): end as asked, without an error or a
                    // summary; the files are still written to the end.
                    readerGone = true;
                    pipeline.closeMain();
                    stopOnce();
                } else if (!failed) {
                    fail("dravik-swv: cannot write to " + pipeline.failedStream() + "\n");
                }
            }
            status.redraw();
        } else if (queue.finished()) {
            break;
        }

        const uint64_t now = env.clock.nowUs();
        if (std::optional<CallFailure> readFailure = drain.takeFirstReadFailure()) {
            status.clear();
            env.message(formatCallFailure(*readFailure));
            status.redraw();
        }
        if (!warnedFull) {
            if (const uint64_t full = drain.counters().bufferFullPolls; full != 0) {
                warnedFull = true;
                status.clear();
                env.message(bufferFullWarning(full));
                status.redraw();
            }
        }
        if (drain.probeLost() && !failed) {
            fail("dravik-swv: trace reads keep failing; the probe is gone\n");
        }
        if (recordings.failed() && !failed) {
            fail("dravik-swv: " + recordings.error() + "\n");
        }
        if (env.stopRequested() ||
            (options.durationSeconds &&
             static_cast<double>(now - startUs) >= *options.durationSeconds * 1e6)) {
            stopOnce();
        }
        if (status.live() && now >= nextStatusUs) {
            nextStatusUs = now + kStatusPeriodUs;
            const DrainCounters counters = drain.counters();
            const double rateNow = meter.update(now, counters.bytes);
            status.show(formatStatusLine(captureStatus(
                pipeline, counters, static_cast<double>(now - startUs) / 1e6, rateNow)));
        }
    }
    drainer.join();
    recordingWriter.finish();
    session.setReceiverRunning(false);

    pipeline.finish();
    if (!pipeline.flush() && !failed) {
        fail("dravik-swv: cannot write to " + pipeline.failedStream() + "\n");
    }
    const uint64_t endUs = env.clock.nowUs();
    if (!recordings.finish(std::max(lastTimeUs, endUs - startUs)) && !failed) {
        fail("dravik-swv: " + recordings.error() + "\n");
    }
    if (std::optional<CallFailure> stopFailure = drain.stopFailure()) {
        status.clear();
        env.message(formatCallFailure(*stopFailure));
        failed = true;
    }
    const DrainCounters counters = drain.counters();
    const double seconds = static_cast<double>(endUs - startUs) / 1e6;
    status.clear();
    if (readerGone && !failed) {
        return kExitOk;
    }
    // A capture shorter than the health check's window is judged as a whole, at the end.
    const HealthVerdict verdict = pipeline.health().verdict();
    if (verdict.unhealthy() && !warned) {
        env.message(healthWarning(verdict, advice));
    }
    if (verdict.condition == StreamCondition::NoTrace && !failed) {
        char span[32];
        std::snprintf(span, sizeof span, "%.1f s", seconds);
        env.message(std::string("dravik-swv: no trace arrived in ") + span +
                    (counters.bytes != 0 ? " (synchronisation packets only)" : "") +
                    ": the target wrote nothing to the enabled ports, or the trace does not "
                    "reach the probe\n  check the setup with: " +
                    advice.doctor + "\n");
    }
    StatusSnapshot summary = captureStatus(pipeline, counters, seconds, 0);
    summary.health = verdict;
    env.message(formatSummary(summary, "captured"));
    if (failed) {
        return kExitFailure;
    }
    const bool trusted = !verdict.unhealthy() && verdict.condition != StreamCondition::NoTrace;
    return options.strict && !trusted ? kExitFailure : kExitOk;
}

}  // namespace dravik::swv
