// Interface clocks: the second generation's divider commands, the third generation's kHz requests
// and frequency lists, and its probe frequency switch. All of them need the probe in idle or debug
// mode.
#include <algorithm>
#include <iterator>
#include <vector>

#include "CommandRegistry.h"

namespace dravik::sim {

namespace {

struct DividerSetting {
    uint16_t divider;
    uint32_t kHz;
};

// The dividers second-generation firmware knows, with the clock each one gives.
constexpr DividerSetting kSwdDividers[] = {
    {0, 4000}, {1, 1800}, {3, 950},  {7, 480},  {15, 240}, {31, 125},
    {40, 100}, {79, 50},  {158, 25}, {265, 15}, {798, 5},
};
constexpr DividerSetting kJtagDividers[] = {
    {4, 9000}, {8, 4500}, {16, 2250}, {32, 1125}, {64, 562}, {128, 281}, {256, 140},
};

constexpr uint8_t kComSwd = 0;
constexpr uint8_t kComJtag = 1;
constexpr unsigned kFreqListEntries = 10;

bool InClockMode(const CommandContext& ctx) {
    return ctx.probe.state.mode == kModeIdle || ctx.probe.state.mode == kModeDebug;
}

// Answers the wrong-mode status and returns false when the probe cannot take a clock command now.
bool AcceptClockCommand(CommandContext& ctx) {
    ctx.clearAnswer();
    if (!InClockMode(ctx)) {
        ctx.putStatus(status::kWrongMode);
        return false;
    }
    return true;
}

template <size_t N>
unsigned SetDivider(CommandContext& ctx, const DividerSetting (&table)[N], uint16_t& divider,
                    uint32_t& appliedKHz) {
    if (!AcceptClockCommand(ctx)) {
        return drv::kOk;
    }
    const uint16_t requested = ctx.cdb16(2);
    const auto* setting =
        std::find_if(std::begin(table), std::end(table),
                     [&](const DividerSetting& s) { return s.divider == requested; });
    if (setting == std::end(table)) {
        ctx.putStatus(status::kGenericError);  // not a divider this firmware offers
        return drv::kOk;
    }
    divider = requested;
    appliedKHz = setting->kHz;
    ctx.putStatus(status::kOk);
    return drv::kOk;
}

unsigned SetSwdDivider(CommandContext& ctx) {
    ProbeState& s = ctx.probe.state;
    return SetDivider(ctx, kSwdDividers, s.swdDivider, s.appliedKHz[kComSwd]);
}

unsigned SetJtagDivider(CommandContext& ctx) {
    ProbeState& s = ctx.probe.state;
    return SetDivider(ctx, kJtagDividers, s.jtagDivider, s.appliedKHz[kComJtag]);
}

const std::vector<uint32_t>* OfferedFrequencies(const CommandContext& ctx, uint8_t com) {
    if (com == kComSwd) {
        return &ctx.probe.config.swdFrequenciesKHz;
    }
    if (com == kComJtag) {
        return &ctx.probe.config.jtagFrequenciesKHz;
    }
    return nullptr;
}

// The nearest offered frequency at or below the request; below every offered one, the slowest.
uint32_t ChooseFrequency(const std::vector<uint32_t>& offered, uint32_t requestKHz) {
    uint32_t best = 0, slowest = 0;
    bool found = false;
    for (size_t i = 0; i < offered.size(); ++i) {
        const uint32_t f = offered[i];
        if (i == 0 || f < slowest) {
            slowest = f;
        }
        if (f <= requestKHz && (!found || f > best)) {
            best = f;
            found = true;
        }
    }
    return found ? best : slowest;
}

unsigned SetComFreq(CommandContext& ctx) {
    if (!AcceptClockCommand(ctx)) {
        return drv::kOk;
    }
    const uint8_t com = ctx.cdb(2);
    const std::vector<uint32_t>* offered = OfferedFrequencies(ctx, com);
    if (offered == nullptr || offered->empty()) {
        ctx.putStatus(status::kGenericError);
        return drv::kOk;
    }
    const uint32_t applied = ChooseFrequency(*offered, ctx.cdb32(4));
    ctx.probe.state.appliedKHz[com] = applied;
    ctx.putStatus(status::kOk);
    ctx.put32(4, applied);
    return drv::kOk;
}

unsigned GetComFreq(CommandContext& ctx) {
    if (!AcceptClockCommand(ctx)) {
        return drv::kOk;
    }
    const uint8_t com = ctx.cdb(2);
    const std::vector<uint32_t>* offered = OfferedFrequencies(ctx, com);
    if (offered == nullptr) {
        ctx.putStatus(status::kGenericError);
        return drv::kOk;
    }
    const unsigned count = std::min<size_t>(offered->size(), kFreqListEntries);
    ctx.putStatus(status::kOk);
    ctx.put32(4, ctx.probe.state.appliedKHz[com]);
    ctx.put32(8, count);
    for (unsigned i = 0; i < count; ++i) {
        ctx.put32(12 + 4 * i, (*offered)[i]);
    }
    return drv::kOk;
}

unsigned SwitchProbeFreq(CommandContext& ctx) {
    if (!AcceptClockCommand(ctx)) {
        return drv::kOk;
    }
    const uint8_t divider = ctx.cdb(2);
    if (divider != 1 && divider != 2 && divider != 4) {
        ctx.putStatus(status::kGenericError);
        return drv::kOk;
    }
    ctx.probe.state.probeFreqDivider = divider;
    if (ctx.probe.config.switchFreqChangesSettings) {
        ctx.putStatus(status::kSettingsChanged);
        ctx.put32(4, ctx.probe.config.switchFreqValue);
    } else {
        ctx.putStatus(status::kOk);
    }
    return drv::kOk;
}

}  // namespace

void RegisterClockCommands(CommandRegistry& registry) {
    registry.add(0xF2, 0x43, SetSwdDivider, gate::SwdClk);
    registry.add(0xF2, 0x44, SetJtagDivider, gate::JtagClk);
    registry.add(0xF2, 0x61, SetComFreq, gate::SwitchFreq);
    registry.add(0xF2, 0x62, GetComFreq, gate::SwitchFreq);
    registry.add(0xF2, 0x63, SwitchProbeFreq, gate::SwitchFreq);
}

}  // namespace dravik::sim
