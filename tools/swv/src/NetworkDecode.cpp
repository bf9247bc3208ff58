// decode tcp://HOST:PORT, frames://HOST:PORT: a stream server's live trace through the same
// pipeline as a capture, until the server closes the stream or the user stops.
#include <atomic>
#include <chrono>
#include <thread>

#include "DecodeEnding.h"
#include "dravik/stream/NetworkSource.h"
#include "dravik/swv/OutputFiles.h"

namespace dravik::swv {

namespace {

// Hands Ctrl-C on to the source, whose waits it ends; the signal handler only counts.
class StopWatcher {
  public:
    StopWatcher(ToolEnvironment& env, stream::NetworkSource& source)
        : thread_([this, &env, &source] {
              while (!done_.load()) {
                  if (env.stopRequested()) {
                      source.requestStop();
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~StopWatcher() {
        done_.store(true);
        thread_.join();
    }
    StopWatcher(const StopWatcher&) = delete;
    StopWatcher& operator=(const StopWatcher&) = delete;

  private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

std::string framesLine(const stream::SourceStats& stats, uint8_t tag) {
    return "  frames: " + std::to_string(stats.frames - stats.otherTagFrames) + " of tag " +
           std::to_string(tag) + ", " + std::to_string(stats.otherTagFrames) +
           " of other tags skipped, " + std::to_string(stats.badFrames) + " that did not decode";
}

}  // namespace

int runNetworkDecode(ToolEnvironment& env, const DecodeOptions& options) {
    const stream::StreamUrl& url = *options.url;
    std::string error;
    PortFiles portFiles;
    if (!portFiles.open(options.output, error)) {
        env.message("dravik-swv: " + error + "\n");
        return kExitFailure;
    }
    stream::NetworkSource source(url, options.tag);
    StopWatcher watcher(env, source);
    if (!source.connect(error)) {
        if (source.stopRequested()) {
            return kExitOk;  // the user gave up waiting for the server
        }
        env.message("dravik-swv: " + error + "\n");
        return kExitFailure;
    }
    if (options.verbose) {
        env.message("dravik-swv: connected to " + url.text + "\n");
    }
    // The stream says nothing of the capture: every port counts as enabled, and timestamps are
    // in seconds only with --clock.
    TargetClocks clocks;
    clocks.globalHz = options.clockHz;
    clocks.timestampHz = options.clockHz != 0 ? timestampClockHz(options.clockHz, 0) : 0;
    MainOutput main;
    main.terminal = env.outIsTerminal;
    main.noColorSet = env.noColorSet;
    main.live = env.outIsTerminal;  // a live stream: unfinished lines shown as they come
    TracePipeline pipeline(pipelineConfig(options.output, portFiles, 0xFFFFFFFF, clocks, main),
                           &env.out);
    HealthAdvice advice;
    advice.live = false;
    DecodeEnding ending;
    ending.strict = options.strict;

    const uint64_t startUs = env.clock.nowUs();
    uint8_t buffer[16384];
    long got = 0;
    while ((got = source.read(buffer, sizeof buffer)) > 0) {
        const uint64_t nowUs = env.clock.nowUs() - startUs;
        pipeline.data(buffer, static_cast<size_t>(got), nowUs);
        // The pieces of a line that have waited long enough; the rest waits for the next read.
        pipeline.tick(nowUs);
        if (pipeline.takeHealthAlarm()) {
            ending.warned = true;
            // A row left open on the same terminal is ended first.
            if (env.outIsTerminal && pipeline.mainRowOpen()) {
                pipeline.closeMainRow();
            }
            if (!pipeline.flush()) {
                return outputFailed(env, pipeline);
            }
            env.message(healthWarning(pipeline.health().verdict(), advice));
        }
        if (!pipeline.flush()) {
            return outputFailed(env, pipeline);
        }
    }
    ending.seconds = static_cast<double>(env.clock.nowUs() - startUs) / 1e6;
    pipeline.finish();
    if (!pipeline.flush()) {
        return outputFailed(env, pipeline);
    }
    std::string end = "the server closed the stream";
    if (source.stats().wireBytes == 0) {
        // A server with all the clients it takes accepts and closes at once.
        end += " before sending anything (a server at its limit of clients refuses so)";
    }
    if (got < 0) {
        env.message("dravik-swv: " + source.error() + "\n");
        end = "the connection broke";
        ending.status = kExitFailure;
    } else if (source.stopRequested()) {
        end = "stopped";
    }
    ending.details.push_back("  from " + url.text + ": " + end);
    if (url.kind == stream::StreamKind::Frames) {
        ending.details.push_back(framesLine(source.stats(), options.tag));
    }
    ending.advice = advice;
    return endDecode(env, pipeline, ending);
}

}  // namespace dravik::swv
