// What each subcommand was asked to do, checked and converted before any probe is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    uint32_t clockHz = 0;
    std::optional<uint32_t> prescaler;
    std::optional<uint32_t> rateBps;
    bool force = false;
};

struct PortFileOption {
    unsigned port = 0;
    std::string path;
};

struct OutputOptions {
    OutputFormat format = OutputFormat::Text;
    std::vector<PortRoute> ports;  // --port N=FORMAT
    std::vector<PortFileOption> portFiles;
    bool quiet = false;
};

struct CaptureOptions {
    SelectionOptions selection;
    RateOptions rate;
    TxMode mode = TxMode::Nrz;
    uint32_t stimulusMask = 0xFFFFFFFF;
    std::optional<double> durationSeconds;
    bool timestamps = false;
    bool noSync = false;  // leave synchronisation packets off
    OutputOptions output;
    std::string rawPath;
    std::string rawPlainPath;
    bool strict = false;      // exit 1 when the trace is not healthy
    bool lockMemory = false;  // mlockall of the pages mapped when the capture starts
    bool verbose = false;
};

struct DecodeOptions {
    std::string path;
    OutputOptions output;
    bool plain = false;
    uint32_t clockHz = 0;  // 0: the recording's
    bool realtime = false;
    bool strict = false;  // exit 1 when the trace is not healthy
    bool verbose = false;
};

struct DoctorOptions {
    SelectionOptions selection;
    RateOptions rate;  // clockHz 0: no trace setup, registers as found
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
