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
#include "dravik/swv/DwtSetup.h"
#include "dravik/swv/HealthWarning.h"
#include "dravik/swv/OutputFiles.h"
#include "dravik/swv/ProbeSession.h"
#include "dravik/swv/RecordingSink.h"
#include "dravik/swv/SinkThread.h"
#include "dravik/swv/StatusLine.h"
#include "dravik/swv/ThreadPriority.h"
#include "dravik/swv/TraceClock.h"
#include "dravik/swv/TraceDrain.h"
#include "dravik/swv/TracePipeline.h"
#include "dravik/swv/TraceRegisterMap.h"
#include "dravik/swv/TraceServer.h"
#include "dravik/swv/TraceSetup.h"

namespace dravik::swv {

namespace {

constexpr auto kPopWait = std::chrono::milliseconds(20);

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

// `trial`: what the kept clock's trial read before the drainer took over.
StatusSnapshot captureStatus(const TracePipeline& pipeline, const DrainCounters& drain,
                             const DrainCounters& trial, double elapsedSeconds,
                             double bytesPerSecond) {
    StatusSnapshot status = snapshotFrom(pipeline.counters());
    // The drainer knows of losses before the chunks carrying them are decoded.
    status.bytes = trial.bytes + drain.bytes;
    status.hostDrops = trial.probeDrops + drain.probeDrops;
    status.readFailures = drain.readFailures;
    status.queueDropBytes = drain.queueDropBytes;
    status.bufferFullPolls = drain.bufferFullPolls;
    status.elapsedSeconds = elapsedSeconds;
    status.bytesPerSecond = bytesPerSecond;
    return status;
}

// Until `count` clients are connected, showing them as they come; false when the user stopped
// the capture meanwhile. Waits on the real clock: it is the network it waits for.
bool waitForClients(ToolEnvironment& env, TraceServer& server, size_t count) {
    env.message("dravik-swv: waiting for " + std::to_string(count) +
                (count == 1 ? " client" : " clients") + " before the target runs\n");
    while (true) {
        env.message(server.takeLog());
        if (server.connectedClients() >= count) {
            return true;
        }
        if (env.stopRequested()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

int runCapture(ToolEnvironment& env, const CaptureOptions& options, CaptureObserver* observer) {
    // A given clock is checked before anything is touched, with the DWT trace it must carry; a
    // measured one once the target runs.
    std::optional<RateChoice> given;
    std::optional<DwtPlan> dwt;
    if (!options.rate.measureClock()) {
        given = chooseRate(env, options.rate);
        if (!given) {
            return kExitUsage;
        }
        // Before the probe is touched: a sampling rate the line cannot carry is refused here.
        dwt = planDwtTrace(env, *given, options.dwt, options.timestamps);
        if (!dwt) {
            return kExitUsage;
        }
    }
    std::string error;
    PortFiles portFiles;
    RecordingSink recordings;
    if (!portFiles.open(options.output, error) ||
        !recordings.open(options.rawPath, options.rawPlainPath, error)) {
        env.message("dravik-swv: " + error + "\n");
        return kExitFailure;
    }
    // Listening comes before the probe is touched: a port in use ends the capture before it
    // begins.
    std::unique_ptr<TraceServer> server;
    if (!options.serve.listeners.empty()) {
        server = std::make_unique<TraceServer>(options.serve);
        if (!server->start(error)) {
            env.message("dravik-swv: " + error + "\n");
            return kExitFailure;
        }
        env.message(server->listeningText());
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
    const TraceRequest request{options.stimulusMask, options.mode, options.timestamps,
                               !options.noSync};
    std::optional<TraceStart> start;
    // Clients that asked to see the trace from its start are waited for before the target runs.
    auto clientsReady = [&] {
        if (server && options.serve.waitClients > 0 &&
            !waitForClients(env, *server, options.serve.waitClients)) {
            env.message("dravik-swv: stopped while waiting for clients; nothing was captured\n");
            return false;
        }
        return true;
    };
    // The DWT's packets join the instrumentation's, with the ITM_TCR that carries them.
    auto addDwtTrace = [&](SetupResult& setup) {
        if (!dwt->any()) {
            return true;
        }
        const std::optional<uint32_t> tcr = setUpDwtTrace(session, *dwt);
        setup.itmTcr = tcr ? tcr : setup.itmTcr;
        return tcr.has_value();
    };
    if (given) {
        std::optional<SetupResult> setup = setUpTrace(session, *given, request);
        if (!setup) {
            return kExitFailure;
        }
        if (!addDwtTrace(*setup)) {
            return kExitFailure;
        }
        if (!clientsReady()) {
            return options.strict ? kExitFailure : kExitOk;
        }
        if (!session.runTarget()) {
            return kExitFailure;
        }
        start = TraceStart{*given, *setup, std::nullopt, 0};
    } else {
        if (!clientsReady()) {
            return options.strict ? kExitFailure : kExitOk;
        }
        start = startAtMeasuredClock(session, options.rate, request);
        if (!start) {
            return kExitFailure;
        }
        // The clock found is the one the DWT trace is planned for; it joins the running trace.
        dwt = planDwtTrace(env, start->rate, options.dwt, options.timestamps);
        if (!dwt) {
            return kExitFailure;
        }
        if (!addDwtTrace(start->setup)) {
            return kExitFailure;
        }
    }
    // From here on the clock is the one the trace runs at, given or found: the recording, the
    // timestamps and the advice all take it from here.
    const RateChoice& rate = start->rate;
    const SetupResult& setup = start->setup;

    RecordingSettings settings;
    settings.traceClockHz = rate.clockHz;
    settings.prescaler = rate.prescaler;
    settings.stimulusMask = options.stimulusMask;
    settings.txModeFlags = static_cast<uint8_t>(options.mode);
    settings.pinProtocol = static_cast<uint8_t>(setup.pinProtocol.value_or(0));
    settings.itmTcr = setup.itmTcr.value_or(0);
    settings.startTimeUs = start->trial ? start->trialWallUs : wallClockUs();
    settings.serial = serial->c_str();
    if (!recordings.start(makeRecordingHeader(settings))) {
        env.message("dravik-swv: " + recordings.error() + "\n");
        return kExitFailure;
    }

    // The clock the capture runs at makes seconds of the timestamps: the local ones count it
    // over TSPrescale, the global ones count it as it is.
    TargetClocks clocks;
    clocks.globalHz = rate.clockHz;
    clocks.timestampHz = setup.itmTcr && (*setup.itmTcr & reg::kItmTcrTsena) != 0
                             ? timestampClockHz(rate.clockHz, *setup.itmTcr)
                             : 0;
    MainOutput main;
    main.terminal = env.outIsTerminal;
    main.noColorSet = env.noColorSet;
    main.live = env.outIsTerminal;
    main.startWallUs = settings.startTimeUs;
    TracePipeline pipeline(
        pipelineConfig(options.output, portFiles, options.stimulusMask, clocks, main), &env.out);

    if (observer != nullptr) {
        observer->start(clocks.timestampHz);
    }
    // With a trial, the capture began with it: host times and --duration count from there.
    const uint64_t startUs = start->trial ? start->trial->startUs : env.clock.nowUs();
    ChunkQueue queue(env.queueChunks, TraceDrain::kReadBufferBytes);
    TraceDrain drain(env.api, queue, env.clock,
                     PollInterval(DRAVIK_TRACE_BUFFER_SIZE, swoLineBytesPerSecond(rate.actualBps)),
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
    HealthAdvice advice;
    advice.clockHz = rate.clockHz;
    advice.prescaler = rate.prescaler;
    advice.clockMeasured = static_cast<bool>(start->trial);
    advice.doctor = doctorCommand(options, rate);
    bool warned = false;      // the health warning is given once
    bool warnedFull = false;  // and the first full probe buffer
    StatusLine status(env, env.errIsTerminal);
    // Output and status on one terminal: the status is taken away for the output and put back
    // after it, so output is written in frames, at most as often as the status is drawn.
    const bool framed = status.live() && env.outIsTerminal;
    RateMeter meter;
    bool stopping = false;
    bool failed = false;
    bool readerGone = false;  // the reader of standard output went away (`| head`)
    uint64_t lastTimeUs = 0;
    uint64_t stopUs = 0;
    auto stopOnce = [&] {
        if (!stopping) {
            stopping = true;
            stopUs = env.clock.nowUs();
            pipeline.ending();
            drain.requestStop();
        }
    };
    auto writeOutput = [&] {
        if (pipeline.flush()) {
            return;
        }
        if (pipeline.mainFailed() && env.outputGone && env.outputGone()) {
            // Nobody reads any more (`| head`): end as asked, without an error or a summary; the
            // files are still written to the end.
            readerGone = true;
            pipeline.closeMain();
            stopOnce();
        } else if (!failed) {
            failed = true;
            stopOnce();
            status.erase();
            env.message("dravik-swv: cannot write to " + pipeline.failedStream() + "\n");
        }
    };
    // A message for stderr: a row the output left open on the same terminal is ended first.
    auto say = [&](const std::string& text) {
        if (env.outIsTerminal && pipeline.mainRowOpen()) {
            pipeline.closeMainRow();
            writeOutput();
        }
        status.erase();
        env.message(text);
    };
    auto fail = [&](const std::string& text) {
        say(text);
        failed = true;
        stopOnce();
    };
    auto showServerLog = [&] {
        const std::string lines = server ? server->takeLog() : std::string();
        if (!lines.empty()) {
            say(lines);
        }
    };

    // After bytes were decoded: the health warning once (the output follows in the loop).
    auto present = [&] {
        if (pipeline.takeHealthAlarm() && !warned) {
            warned = true;
            say(healthWarning(pipeline.health().verdict(), advice));
        }
    };

    // The observer writes to standard output too: its failure ends the capture as the
    // display's does.
    auto observerFailed = [&] {
        observer = nullptr;
        if (env.outputGone && env.outputGone()) {
            readerGone = true;
            stopOnce();
        } else if (!failed) {
            fail("dravik-swv: cannot write to standard output\n");
        }
    };

    // The trial's reads go first, to the recordings and the display alike, as the drainer would
    // have handed them on: the receiver ran on between them and the first poll, so nothing is
    // missing in between.
    DrainCounters trialCounts;
    if (start->trial) {
        for (const HeardRead& read : start->trial->reads) {
            if (read.gap == GapCause::None) {
                recordings.data(read.timeUs, read.bytes.data(), read.bytes.size());
                if (server) {
                    server->data(read.timeUs, read.bytes.data(), read.bytes.size());
                }
                pipeline.data(read.bytes.data(), read.bytes.size(), read.timeUs);
                if (observer != nullptr) {
                    observer->data(read.bytes.data(), read.bytes.size(), read.timeUs);
                }
                trialCounts.bytes += read.bytes.size();
            } else {
                recordings.gap(read.timeUs, read.gap);
                if (server) {
                    server->gap(read.timeUs, read.gap);
                }
                pipeline.gap(read.gap, 0, read.timeUs);
                if (observer != nullptr) {
                    observer->gap(read.gap, read.timeUs);
                }
                ++trialCounts.probeDrops;
            }
        }
    }

    present();
    if (recordings.any()) {
        recordingWriter.start();
        drain.addSink(recordingWriter);
    }
    if (server) {
        drain.addSink(*server);
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
                    if (observer != nullptr) {
                        observer->gap(gap.cause, lossTime);
                    }
                }
            }
            if (!chunk->bytes.empty()) {
                pipeline.data(chunk->bytes.data(), chunk->bytes.size(), chunk->timeUs);
                if (observer != nullptr) {
                    observer->data(chunk->bytes.data(), chunk->bytes.size(), chunk->timeUs);
                }
            }
            queue.recycle(std::move(chunk));
            present();
        } else if (queue.finished()) {
            break;
        }

        showServerLog();
        const uint64_t now = env.clock.nowUs();
        pipeline.tick(now - startUs);
        if (!framed) {
            writeOutput();
        }
        if (observer != nullptr && !observer->tick(now - startUs)) {
            observerFailed();
        }
        if (std::optional<CallFailure> readFailure = drain.takeFirstReadFailure()) {
            say(formatCallFailure(*readFailure));
        }
        if (!warnedFull) {
            if (const uint64_t full = drain.counters().bufferFullPolls; full != 0) {
                warnedFull = true;
                say(bufferFullWarning(full));
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
        if (status.frameDue(now)) {
            if (framed && pipeline.mainPending()) {
                status.erase();
                writeOutput();
            }
            // A row the output left open holds the cursor: the status waits until it ends.
            if (!(framed && pipeline.mainRowOpen())) {
                const DrainCounters counters = drain.counters();
                const double rateNow = meter.update(now, trialCounts.bytes + counters.bytes);
                status.draw(formatStatusLine(captureStatus(pipeline, counters, trialCounts,
                                                           static_cast<double>(now - startUs) / 1e6,
                                                           rateNow)),
                            now);
            }
        }
    }
    drainer.join();
    recordingWriter.finish();
    session.setReceiverRunning(false);
    if (server) {
        server->stop();
        showServerLog();
    }

    pipeline.finish();
    status.erase();
    writeOutput();
    const uint64_t endUs = env.clock.nowUs();
    if (observer != nullptr && !observer->finish((stopping ? stopUs : endUs) - startUs)) {
        observerFailed();
    }
    if (!recordings.finish(std::max(lastTimeUs, endUs - startUs)) && !failed) {
        fail("dravik-swv: " + recordings.error() + "\n");
    }
    if (std::optional<CallFailure> stopFailure = drain.stopFailure()) {
        env.message(formatCallFailure(*stopFailure));
        failed = true;
    }
    const DrainCounters counters = drain.counters();
    const double seconds = static_cast<double>(endUs - startUs) / 1e6;
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
        env.message(
            std::string("dravik-swv: no trace arrived in ") + span +
            (trialCounts.bytes + counters.bytes != 0 ? " (synchronisation packets only)" : "") +
            ": the target wrote nothing to the enabled ports, or the trace does not "
            "reach the probe\n  check the setup with: " +
            advice.doctor + "\n");
    }
    StatusSnapshot summary = captureStatus(pipeline, counters, trialCounts, seconds, 0);
    summary.health = verdict;
    if (server) {
        summary.details = server->summaryLines();
    }
    env.message(formatSummary(summary, "captured"));
    if (failed) {
        return kExitFailure;
    }
    const bool trusted = !verdict.unhealthy() && verdict.condition != StreamCondition::NoTrace;
    return options.strict && !trusted ? kExitFailure : kExitOk;
}

}  // namespace dravik::swv
