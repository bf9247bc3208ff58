// Probe services: target voltage, LED, mass-storage volume name, MCO output selection.
#include <string>

#include "CommandRegistry.h"

namespace dravik::sim {

namespace {

constexpr unsigned kVolumeNameSize = 12;
constexpr uint8_t kHighestMcoCode = 3;    // on every firmware with the MCO selection
constexpr uint8_t kHighestMcoCodeV3 = 4;  // with the frequency switch

// No status word: the reference reading, then the target reading.
unsigned GetTargetVoltage(CommandContext& ctx) {
    ctx.clearAnswer();
    ctx.put32(0, ctx.probe.config.voltageReference);
    ctx.put32(4, ctx.probe.config.voltageTarget);
    return drv::kOk;
}

unsigned BlinkLed(CommandContext& ctx) {
    ctx.clearAnswer();
    ++ctx.probe.state.ledBlinks;
    ctx.putStatus(status::kOk);
    return drv::kOk;
}

// Status, then the 12 name bytes: a shorter name is padded with zeros, a longer one cut.
unsigned GetVolumeName(CommandContext& ctx) {
    ctx.clearAnswer();
    ctx.putStatus(status::kOk);
    const std::string& name = ctx.probe.config.volumeName;
    for (unsigned i = 0; i < kVolumeNameSize && i < name.size(); ++i) {
        ctx.put8(2 + i, static_cast<uint8_t>(name[i]));
    }
    return drv::kOk;
}

// FA, code: the firmware refuses a code it has no output for and keeps the current one.
unsigned SelectMco(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint8_t code = ctx.cdb(1);
    const uint8_t highest =
        gate::SwitchFreq(ctx.probe.config) ? kHighestMcoCodeV3 : kHighestMcoCode;
    if (code > highest) {
        ctx.putStatus(status::kGenericError);
        return drv::kOk;
    }
    ctx.probe.state.mcoSelection = code;
    ctx.putStatus(status::kOk);
    return drv::kOk;
}

}  // namespace

void RegisterServiceCommands(CommandRegistry& registry) {
    registry.addClass(0xF7, GetTargetVoltage, gate::VoltageNrstAndSwv);
    registry.add(0xF2, 0x49, BlinkLed, gate::LedAndDiskName);
    registry.add(0xF2, 0x4A, GetVolumeName, gate::LedAndDiskName);
    registry.addClass(0xFA, SelectMco, gate::McoAndRw16);
}

}  // namespace dravik::sim
