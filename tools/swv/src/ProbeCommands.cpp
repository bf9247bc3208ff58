// The small subcommands: list the probes, dump target memory, blink a probe's LED.
#include <vector>

#include "DravikTrace.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/HexDump.h"
#include "dravik/swv/ProbeSession.h"

namespace dravik::swv {

int runList(ToolEnvironment& env, const ListOptions& options) {
    ProbeSession session(env, options.verbose);
    if (!session.require({EntryPoint::EnumerateDevices})) {
        return kExitFailure;
    }
    std::vector<ProbeEntry> probes;
    if (!session.listProbes(probes)) {
        return kExitFailure;
    }
    env.out << (options.json ? formatProbeListJson(probes) : formatProbeList(probes));
    env.out.flush();
    return kExitOk;
}

int runMem(ToolEnvironment& env, const MemOptions& options) {
    const std::vector<MemoryRead> reads = planMemoryReads(options.address, options.length);
    if (reads.empty()) {
        env.message("dravik-swv: the range is empty or runs past 0xFFFFFFFF\n");
        return kExitUsage;
    }
    ProbeSession session(env, options.verbose);
    if (!session.require({EntryPoint::EnumerateDevices, EntryPoint::SelectDevice,
                          EntryPoint::ReadMemory, EntryPoint::CloseDevice})) {
        return kExitFailure;
    }
    const std::optional<std::string> serial = session.chooseSerial(options.selection.serial);
    if (!serial || !session.select(*serial, options.selection)) {
        return kExitFailure;
    }
    const uint32_t base = reads.front().address;
    std::vector<uint8_t> bytes;
    for (const MemoryRead& read : reads) {
        std::vector<uint8_t> block(read.size, 0);
        unsigned rwStatus = 0;
        const int result = env.api.readMemory(read.address, block.data(), read.size, &rwStatus);
        if (result != DRAVIK_OK) {
            session.reportFailure("DravikReadMemory", result);
            return kExitFailure;
        }
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
    // Show the range asked for; the reads may have started before it and ended after it.
    const size_t skip = options.address - base;
    const std::vector<uint8_t> shown(bytes.begin() + static_cast<std::ptrdiff_t>(skip),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(skip) +
                                         static_cast<std::ptrdiff_t>(options.length));
    env.out << formatHexDump(options.address, shown);
    env.out.flush();
    return kExitOk;
}

int runBlink(ToolEnvironment& env, const BlinkOptions& options) {
    ProbeSession session(env, options.verbose);
    if (!session.require(
            {EntryPoint::EnumerateDevices, EntryPoint::BlinkDebugger, EntryPoint::CloseDevice})) {
        return kExitFailure;
    }
    const std::optional<std::string> serial = session.chooseSerial(options.serial);
    if (!serial) {
        return kExitFailure;
    }
    session.touch();
    const int result = env.api.blinkDebugger(serial->c_str());
    session.showStep("DravikBlinkDebugger");
    if (result != DRAVIK_OK) {
        session.reportFailure("DravikBlinkDebugger", result);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace dravik::swv
