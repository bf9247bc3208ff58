// top: the firmware's profile from its PC samples and exception trace, live from a capture whose
// display is off, or from a recording.
#include <mutex>
#include <streambuf>
#include <string>

#include "dravik/profile/SymbolTable.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/HealthWarning.h"
#include "dravik/swv/ProfileDisplay.h"
#include "dravik/swv/RecordReplay.h"
#include "dravik/swv/TracePipeline.h"

namespace dravik::swv {

namespace {

// Standard error while the profile has the terminal: what is written meanwhile would be drawn
// over (and lost with the alternate screen), so it waits and comes out when the screen is given
// back.
class HeldOutput final : public std::streambuf {
  public:
    explicit HeldOutput(std::ostream& target) : target_(target) {}

    void hold(bool on) {
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = on;
        if (!on && !held_.empty()) {
            target_.write(held_.data(), static_cast<std::streamsize>(held_.size()));
            target_.flush();
            held_.clear();
        }
    }

  protected:
    std::streamsize xsputn(const char* text, std::streamsize size) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (holding_) {
            held_.append(text, static_cast<size_t>(size));
        } else {
            target_.write(text, size);
        }
        return size;
    }
    int overflow(int c) override {
        if (c != traits_type::eof()) {
            const char ch = static_cast<char>(c);
            xsputn(&ch, 1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!holding_) {
            target_.flush();
        }
        return 0;
    }

  private:
    std::ostream& target_;
    std::mutex mutex_;
    bool holding_ = false;
    std::string held_;
};

ProfileDisplayConfig displayConfig(const ToolEnvironment& env, const TopOptions& options,
                                   bool live) {
    ProfileDisplayConfig config;
    config.output = options.json                ? ProfileOutput::Json
                    : live && env.outIsTerminal ? ProfileOutput::Screen
                                                : ProfileOutput::Tables;
    config.intervalSeconds = options.intervalSeconds;
    config.lines = options.lines;
    config.terminalSize = env.terminalSize;
    config.screenActive = env.screenActive;
    return config;
}

int runLive(ToolEnvironment& env, const TopOptions& options, const profile::SymbolTable& symbols) {
    ProfileDisplayConfig config = displayConfig(env, options, true);
    if (config.output != ProfileOutput::Screen || !env.errIsTerminal) {
        ProfileDisplay display(symbols, config, env.out);
        return runCapture(env, options.capture, &display);
    }
    // Both on the terminal: the capture's messages wait while the profile has the screen, and
    // it has no status line of its own.
    HeldOutput held(env.err);
    std::ostream err(&held);
    ToolEnvironment inner(env.api, env.out, err, env.clock);
    inner.outIsTerminal = env.outIsTerminal;
    inner.errIsTerminal = false;
    inner.stopRequests = env.stopRequests;
    inner.outputGone = env.outputGone;
    inner.terminalSize = env.terminalSize;
    inner.screenActive = env.screenActive;
    inner.queueChunks = env.queueChunks;
    inner.noColorSet = env.noColorSet;
    inner.errColor = env.errColor;
    config.screenTaken = [&held](bool taken) { held.hold(taken); };
    int status = kExitOk;
    {
        ProfileDisplay display(symbols, config, env.out);
        status = runCapture(inner, options.capture, &display);
    }
    held.hold(false);
    return status;
}

int runOffline(ToolEnvironment& env, const TopOptions& options,
               const profile::SymbolTable& symbols) {
    RecordingReader reader;
    double timestampHz = 0;
    if (!openRecording(env, options.recordingPath, options.clockHz, reader, timestampHz)) {
        return kExitFailure;
    }
    // A replay takes no time to speak of: screens would flash by, so it prints every table.
    ProfileDisplay display(symbols, displayConfig(env, options, false), env.out);
    // For the health check only: a recording that does not decode profiles as noise.
    PipelineConfig quiet;
    quiet.quiet = true;
    quiet.enabledMask = reader.plain() || reader.header().stimulusMask == 0
                            ? 0xFFFFFFFF
                            : reader.header().stimulusMask;
    TracePipeline pipeline(quiet, nullptr);

    display.start(timestampHz);
    // The run ends with its last data: the receiver's stop is in the recording too, and no trace
    // comes in it.
    uint64_t lastDataUs = 0;
    const ReplayEnd end = replayRecords(env, reader, [&](const Record& record) {
        if (record.type == RecordType::Data) {
            lastDataUs = record.timeUs;
            pipeline.data(record.data.data(), record.data.size(), std::nullopt);
            display.data(record.data.data(), record.data.size(), record.timeUs);
        } else {
            pipeline.gap(record.cause, record.lostBytes, std::nullopt);
            display.gap(record.cause, record.timeUs);
        }
        return !record.timeKnown || display.tick(record.timeUs);
    });
    if (end.status != kExitOk) {
        return end.status;
    }
    pipeline.finish();
    if (!display.failed()) {
        display.finish(lastDataUs);
    }
    if (display.failed()) {
        if (env.outputGone && env.outputGone()) {
            return kExitOk;
        }
        env.message("dravik-swv: cannot write to standard output\n");
        return kExitFailure;
    }
    const HealthVerdict verdict = pipeline.health().verdict();
    if (verdict.unhealthy()) {
        HealthAdvice advice;
        advice.live = false;
        advice.clockHz = reader.plain() ? 0 : reader.header().traceClockHz;
        advice.prescaler = reader.plain() ? 0 : reader.header().prescaler;
        env.message(healthWarning(verdict, advice));
    }
    return kExitOk;
}

}  // namespace

int runTop(ToolEnvironment& env, const TopOptions& options) {
    // The firmware is read first: a wrong file is a bad argument, and nothing is touched.
    profile::SymbolTable symbols;
    std::string error;
    if (!symbols.load(options.elfPath, error)) {
        env.message("dravik-swv top: --elf: " + error + "\n");
        return kExitUsage;
    }
    if (options.lines && !symbols.hasLines()) {
        env.message("dravik-swv top: --lines: " + options.elfPath +
                    " has no line information (build it with -g)\n");
        return kExitUsage;
    }
    return options.recordingPath.empty() ? runLive(env, options, symbols)
                                         : runOffline(env, options, symbols);
}

}  // namespace dravik::swv
