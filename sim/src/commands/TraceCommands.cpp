// The SWV receiver's commands: start, stop, pending count, and the trace stream read.
#include "CommandRegistry.h"

namespace dravik::sim {

namespace {

// F2 40, buffer size (16 bits), rate (32 bits). The receiver takes the target's SWO, so the probe
// must be attached to it in debug mode. From now on the pin is read at this rate.
unsigned StartSwv(CommandContext& ctx) {
    ctx.clearAnswer();
    if (ctx.probe.state.mode != kModeDebug) {
        ctx.putStatus(status::kWrongMode);
        return drv::kOk;
    }
    ctx.probe.startSwv(ctx.cdb32(4), ctx.cdb16(2));
    ctx.putStatus(status::kOk);
    return drv::kOk;
}

// Stopping works in any mode, so a host can always silence the receiver.
unsigned StopSwv(CommandContext& ctx) {
    ctx.clearAnswer();
    ctx.probe.swv().stop();
    ctx.putStatus(status::kOk);
    return drv::kOk;
}

// The answer is the count alone, with no status word. The buffer is at most 65535 bytes.
unsigned PendingCount(CommandContext& ctx) {
    ctx.clearAnswer();
    ctx.put16(0, static_cast<uint16_t>(ctx.probe.swv().pending()));
    return drv::kOk;
}

// A read asking for more than is pending completes short, as a bulk transfer does: the pending
// bytes land first and the rest of the buffer is left as the host had it.
unsigned ReadTrace(CommandContext& ctx) {
    ctx.probe.swv().take(ctx.data, ctx.length);
    return drv::kOk;
}

}  // namespace

void RegisterTraceCommands(CommandRegistry& registry) {
    registry.add(0xF2, 0x40, StartSwv, gate::VoltageNrstAndSwv);
    registry.add(0xF2, 0x41, StopSwv, gate::VoltageNrstAndSwv);
    registry.add(0xF2, 0x42, PendingCount, gate::VoltageNrstAndSwv);
    registry.setTraceRead(ReadTrace);
}

}  // namespace dravik::sim
