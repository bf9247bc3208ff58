// Probe modes: the mode query, DFU and Monowire exits, debug protocol entry and exit, access ports.
#include "CommandRegistry.h"

namespace dravik::sim {

namespace {

constexpr uint8_t kEnterSwd = 0xA3;
constexpr uint8_t kEnterJtag = 0xA4;

unsigned GetMode(CommandContext& ctx) {
    ctx.put8(0, ctx.probe.state.mode);
    ctx.put8(1, ctx.probe.state.subMode);
    return drv::kOk;
}

unsigned DfuExit(CommandContext& ctx) {
    ProbeState& s = ctx.probe.state;
    if (s.mode != kModeIdle && s.mode != kModeDebug && s.mode != kModeMonowire) {
        s.mode = kModeIdle;
        s.subMode = 0;
    }
    return drv::kOk;
}

unsigned MonowireEnter(CommandContext& ctx) {
    if (ctx.probe.state.mode == kModeIdle) {
        ctx.probe.state.mode = kModeMonowire;
    }
    return drv::kOk;
}

unsigned MonowireExit(CommandContext& ctx) {
    if (ctx.probe.state.mode == kModeMonowire) {
        ctx.probe.state.mode = kModeIdle;
    }
    return drv::kOk;
}

unsigned EnterDebug(CommandContext& ctx) {
    ProbeState& s = ctx.probe.state;
    ctx.clearAnswer();
    const uint8_t protocol = ctx.cdb(2);
    if ((protocol != kEnterSwd && protocol != kEnterJtag) ||
        (s.mode != kModeIdle && s.mode != kModeDebug)) {
        ctx.putStatus(status::kWrongMode);
        return drv::kOk;
    }
    if (!ctx.probe.config.targetAttached) {
        ctx.putStatus(status::kNoTarget);
        return drv::kOk;
    }
    s.mode = kModeDebug;
    s.debugProtocol = protocol;
    ctx.putStatus(status::kOk);
    return drv::kOk;
}

unsigned LeaveDebug(CommandContext& ctx) {
    if (ctx.probe.state.mode == kModeDebug) {
        ctx.probe.state.mode = kModeIdle;
        ctx.probe.state.openAccessPorts = 0;
    }
    return drv::kOk;
}

unsigned ReadIdCodes(CommandContext& ctx) {
    ctx.clearAnswer();
    ctx.putStatus(status::kOk);
    ctx.put32(4, ctx.probe.config.idCodes[0]);
    ctx.put32(8, ctx.probe.config.idCodes[1]);
    return drv::kOk;
}

unsigned InitAp(CommandContext& ctx) {
    const uint8_t ap = ctx.cdb(2);
    const uint8_t type = ctx.cdb(3);
    ctx.clearAnswer();
    if (ap >= ctx.probe.config.accessPorts || type > 1) {
        ctx.putStatus(status::kApBadIndex);
    } else if (ctx.probe.state.mode != kModeDebug) {
        ctx.putStatus(status::kWrongMode);
    } else {
        ctx.probe.state.openAccessPorts |= 1u << ap;
        ctx.putStatus(status::kOk);
    }
    return drv::kOk;
}

unsigned CloseAp(CommandContext& ctx) {
    const uint8_t ap = ctx.cdb(2);
    ctx.clearAnswer();
    if (ap >= ctx.probe.config.accessPorts) {
        ctx.putStatus(status::kApBadIndex);
    } else {
        ctx.probe.state.openAccessPorts &= ~(1u << ap);
        ctx.putStatus(status::kOk);
    }
    return drv::kOk;
}

}  // namespace

void RegisterModeCommands(CommandRegistry& registry) {
    registry.addClass(0xF5, GetMode);
    registry.add(0xF3, 0x07, DfuExit);
    registry.add(0xF4, 0x00, MonowireEnter);
    registry.add(0xF4, 0x01, MonowireExit);
    registry.add(0xF2, 0x30, EnterDebug);
    registry.add(0xF2, 0x21, LeaveDebug);
    registry.add(0xF2, 0x31, ReadIdCodes);
    registry.add(0xF2, 0x4B, InitAp, gate::TcpAndAp);
    registry.add(0xF2, 0x4C, CloseAp, gate::TcpAndAp);
}

}  // namespace dravik::sim
