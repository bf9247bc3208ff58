#include "CommandRegistry.h"

namespace dravik::sim {

void CommandRegistry::add(uint8_t cls, uint8_t sub, CommandHandler handler, FirmwareGate gate) {
    commands_[uint16_t(cls << 8 | sub)] = Entry{handler, gate};
}

void CommandRegistry::addClass(uint8_t cls, CommandHandler handler, FirmwareGate gate) {
    classes_[cls] = Entry{handler, gate};
}

unsigned CommandRegistry::dispatch(CommandContext& ctx) const {
    const Entry* entry = nullptr;
    if (ctx.record.direction == DRAVIK_DIR_TRACE_STREAM) {
        if (traceRead_ == nullptr) {
            return drv::kBadRecord;
        }
        return traceRead_(ctx);
    }
    auto it = commands_.find(uint16_t(ctx.cdb(0) << 8 | ctx.cdb(1)));
    if (it != commands_.end()) {
        entry = &it->second;
    } else {
        auto cit = classes_.find(ctx.cdb(0));
        if (cit != classes_.end()) {
            entry = &cit->second;
        }
    }
    if (entry == nullptr || (entry->gate != nullptr && !entry->gate(ctx.probe.config))) {
        // Firmware that lacks a command answers with an error status instead of acting on it.
        ctx.clearAnswer();
        ctx.putStatus(status::kUnknownCommand);
        return drv::kOk;
    }
    return entry->handler(ctx);
}

const CommandRegistry& Firmware() {
    static const CommandRegistry registry = [] {
        CommandRegistry r;
        RegisterVersionCommands(r);
        RegisterModeCommands(r);
        RegisterClockCommands(r);
        RegisterTargetCommands(r);
        RegisterTraceCommands(r);
        RegisterServiceCommands(r);
        return r;
    }();
    return registry;
}

namespace gate {
// The simulated firmware's own table of which generation and version has which command.
bool FpuAndBoardType(const ProbeConfig& c) {
    return !(c.generation <= 1 || (c.generation == 2 && c.jtagVersion <= 14));
}
bool SwitchFreq(const ProbeConfig& c) {
    return c.generation >= 3;
}
bool TcpAndAp(const ProbeConfig& c) {
    return !(c.generation == 1 || (c.generation == 2 && c.jtagVersion <= 27));
}
bool LedAndDiskName(const ProbeConfig& c) {
    return TcpAndAp(c);
}
bool VoltageNrstAndSwv(const ProbeConfig& c) {
    return !(c.generation == 1 || (c.generation == 2 && c.jtagVersion <= 12));
}
bool SwdClk(const ProbeConfig& c) {
    return c.generation == 2 && c.jtagVersion >= 22;
}
bool JtagClk(const ProbeConfig& c) {
    return c.generation == 2 && c.jtagVersion >= 24;
}
bool DapReg(const ProbeConfig& c) {
    return !(c.generation == 1 || (c.generation == 2 && c.jtagVersion <= 23));
}
bool McoAndRw16(const ProbeConfig& c) {
    return !(c.generation == 1 || (c.generation == 2 && c.jtagVersion <= 25));
}
}  // namespace gate

}  // namespace dravik::sim
