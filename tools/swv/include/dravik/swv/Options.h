// What each subcommand was asked to do, checked and converted before any probe is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dravik/stream/Address.h"
#include "dravik/stream/StreamServer.h"
#include "dravik/swv/Colour.h"
#include "dravik/swv/EventRows.h"
#include "dravik/swv/LineTime.h"
#include "dravik/swv/PacketRecords.h"
#include "dravik/swv/TracePipeline.h"

namespace dravik::swv {

// The txModeFlags of DravikSetupDevice.
enum class TxMode : int { Nrz = 1, Manchester = 2, Auto = 3 };

const char* txModeName(TxMode mode) noexcept;
bool parseTxMode(const std::string& name, TxMode& mode) noexcept;

struct SelectionOptions {
    std::string serial;  // empty: the only probe connected
    bool reset = false;
    bool allowOldProbe = false;
};

struct RateOptions {
    // The clock the TPIU divides. 0 (--clock auto, or no --clock): the core clock is measured and
    // the clock found on the trace; TraceStart (TraceClock.h) then holds it in its rate.
    uint32_t clockHz = 0;
    // --clock-candidates: clocks to try as well when the measured one does not decode.
    std::vector<uint32_t> clockCandidates;
    std::optional<uint32_t> prescaler;
    std::optional<uint32_t> rateBps;
    bool force = false;

    bool measureClock() const { return clockHz == 0; }
};

struct PortFileOption {
    unsigned port = 0;
    std::string path;
};

struct OutputOptions {
    OutputFormat format = OutputFormat::Text;
    std::vector<PortRoute> ports;  // --port N=FORMAT
    std::vector<PortFileOption> portFiles;
    // --time; nullopt when not given: a capture with --timestamps, or a decode of a recording
    // with timestamps, shows the target time.
    std::optional<TimeSource> time;
    TimeFormat timeFormat = TimeFormat::Relative;
    EventOptions events;
    ColorMode color = ColorMode::Auto;
    bool quiet = false;
};

// DWT trace beside the instrumentation: PC samples and exception entries and exits.
struct DwtOptions {
    std::optional<double> pcSamplesPerSecond;  // --pc-sampling
    bool defaultPcSampling = false;            // without a rate: sample at the default one
    bool exceptionTrace = false;               // --exception-trace

    bool any() const { return pcSamplesPerSecond || defaultPcSampling || exceptionTrace; }
};

// The stream server of a capture (--serve, --serve-frames).
struct ServeOptions {
    std::vector<stream::ListenerConfig> listeners;  // empty: no server
    size_t maxClients = 16;
    size_t queueBytes = size_t{4} << 20;  // each client's own queue
    // Clients to wait for before the target runs, so that they see the trace from its start.
    size_t waitClients = 0;
};

struct CaptureOptions {
    SelectionOptions selection;
    RateOptions rate;
    TxMode mode = TxMode::Nrz;
    uint32_t stimulusMask = 0xFFFFFFFF;
    std::optional<double> durationSeconds;
    bool timestamps = false;
    bool noSync = false;  // leave synchronisation packets off
    DwtOptions dwt;
    OutputOptions output;
    std::string rawPath;
    std::string rawPlainPath;
    bool strict = false;      // exit 1 when the trace is not healthy
    bool lockMemory = false;  // mlockall of the pages mapped when the capture starts
    bool verbose = false;
    ServeOptions serve;
};

struct DecodeOptions {
    std::string path;
    std::optional<stream::StreamUrl> url;  // a network input instead of a file
    uint8_t tag = stream::kItmTag;         // the frames of a frames:// input that carry the trace
    OutputOptions output;
    bool plain = false;
    uint32_t clockHz = 0;  // 0: the recording's
    bool realtime = false;
    bool strict = false;  // exit 1 when the trace is not healthy
    bool verbose = false;
    bool timeline = false;   // --format chrome-trace: the exception timeline instead
    bool pcCounter = false;  // the timeline shows the PC samples as a counter track
};

// top: the profile of a live capture (`capture`, whose display is off) or of a recording.
struct TopOptions {
    std::string elfPath;
    std::string recordingPath;  // empty: live
    CaptureOptions capture;     // live
    uint32_t clockHz = 0;       // offline: the trace clock for timestamps; 0: the recording's
    double intervalSeconds = 1.0;
    bool lines = false;
    bool json = false;
};

struct DoctorOptions {
    SelectionOptions selection;
    // No --prescaler or --swo-rate: no trace setup, registers as found.
    RateOptions rate;
    TxMode mode = TxMode::Nrz;
    uint32_t stimulusMask = 0xFFFFFFFF;
    bool noSetup = false;
    bool noSync = false;
    bool verbose = false;
};

struct MemOptions {
    SelectionOptions selection;
    uint32_t address = 0;
    uint32_t length = 0;
    bool verbose = false;
};

struct BlinkOptions {
    std::string serial;
    bool verbose = false;
};

struct ListOptions {
    bool json = false;
    bool verbose = false;
};

}  // namespace dravik::swv
