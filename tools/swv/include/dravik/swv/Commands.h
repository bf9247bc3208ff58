// The subcommands of dravik-swv, run on already checked options. Each returns the exit status.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <ostream>

#include "dravik/swv/CaptureObserver.h"
#include "dravik/swv/Clock.h"
#include "dravik/swv/Options.h"
#include "dravik/swv/TraceInterface.h"

namespace dravik::swv {

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,  // a call failed, no probe, a file could not be written, problems found
    kExitUsage = 2,    // bad arguments; nothing was touched
};

struct ToolEnvironment {
    TraceInterface& api;
    std::ostream& out;
    std::ostream& err;
    Clock& clock;
    bool outIsTerminal = false;
    bool errIsTerminal = false;
    // Raised by SIGINT and SIGTERM; null: none will come.
    const std::atomic<int>* stopRequests = nullptr;
    // After a failed write to `out`: whether its reader went away (a closed pipe, `| head`), which
    // ends a command quietly. Null: never.
    std::function<bool()> outputGone;
    // The host clock the target's cycle counter is timed against; null: `clock`. A target
    // simulated on a clock of its own (the bench's manual clock) is timed against that one.
    Clock* cycleCounterClock = nullptr;
    // Columns and rows of the terminal standard output is, when it is one; null or false: 80x24.
    std::function<bool(unsigned& columns, unsigned& rows)> terminalSize;
    // Set while standard output shows a full-screen view that must be put away if the process
    // ends at once (a second Ctrl-C). Null: nobody needs to know.
    std::atomic<bool>* screenActive = nullptr;
    // Chunks of the drain queue (4 KiB each).
    size_t queueChunks = 4096;
    // NO_COLOR is set to anything but the empty string: `--color auto` colours nothing.
    bool noColorSet = false;
    // Warnings on `err` are coloured (decided from --color once the arguments are read).
    bool errColor = false;
    // The width of the terminal `err` is, in columns; 0 when not known. Asked again after each
    // change of `resizes` (SIGWINCH). Null: 80.
    std::function<unsigned()> terminalColumns;
    const std::atomic<int>* resizes = nullptr;
    // The draining thread asks for real-time scheduling or a raised nice value (a benchmark
    // turns it off to see the difference).
    bool raiseDrainPriority = true;
    // See TraceDrain::setSpinAfterDataUs; for measurements.
    uint64_t drainSpinAfterDataUs = 0;
    // Serialises writes to `err`: the device object's diagnostics arrive on the draining thread.
    std::mutex errMutex;

    ToolEnvironment(TraceInterface& api, std::ostream& out, std::ostream& err, Clock& clock)
        : api(api), out(out), err(err), clock(clock) {}

    bool stopRequested() const { return stopRequests != nullptr && stopRequests->load() > 0; }
    // Writes to `err` under errMutex.
    void message(const std::string& text);
};

int runList(ToolEnvironment& env, const ListOptions& options);
// With an observer, the stream goes to it as well (see CaptureObserver).
int runCapture(ToolEnvironment& env, const CaptureOptions& options,
               CaptureObserver* observer = nullptr);
int runDecode(ToolEnvironment& env, const DecodeOptions& options);
int runDoctor(ToolEnvironment& env, const DoctorOptions& options);
int runMem(ToolEnvironment& env, const MemOptions& options);
int runBlink(ToolEnvironment& env, const BlinkOptions& options);
int runTop(ToolEnvironment& env, const TopOptions& options);
// decode --format chrome-trace.
int runTimeline(ToolEnvironment& env, const DecodeOptions& options);

}  // namespace dravik::swv
