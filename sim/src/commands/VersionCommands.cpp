// Version, extended version and board type queries.
#include "CommandRegistry.h"

namespace dravik::sim {

namespace {

unsigned GetVersion(CommandContext& ctx) {
    const ProbeConfig& c = ctx.probe.config;
    const bool zeroed = c.shortVersionZeroed && c.generation > 2;
    const unsigned jtag = zeroed ? 0 : c.jtagVersion & 0x3F;
    const unsigned monowire = zeroed ? 0 : c.monowireVersion & 0x3F;
    const unsigned word = (c.generation & 0x0Fu) << 12 | jtag << 6 | monowire;
    ctx.put8(0, uint8_t(word >> 8));  // the version word is big-endian
    ctx.put8(1, uint8_t(word));
    ctx.put16(2, c.vendorId);
    ctx.put16(4, c.productId);
    return drv::kOk;
}

unsigned GetVersionExt(CommandContext& ctx) {
    const ProbeConfig& c = ctx.probe.config;
    ctx.clearAnswer();
    ctx.put8(0, c.generation);
    ctx.put8(1, c.monowireVersion);
    ctx.put8(2, c.jtagVersion);
    ctx.put8(3, c.auxVersions[0]);
    ctx.put8(4, c.auxVersions[1]);
    ctx.put8(5, c.auxVersions[2]);
    ctx.put16(8, c.vendorId);
    ctx.put16(10, c.productId);
    return drv::kOk;
}

unsigned GetBoardType(CommandContext& ctx) {
    ctx.put32(0, ctx.probe.config.boardType);
    return drv::kOk;
}

}  // namespace

void RegisterVersionCommands(CommandRegistry& registry) {
    registry.add(0xF1, 0x80, GetVersion);
    registry.add(0xFB, 0x80, GetVersionExt, gate::SwitchFreq);
    registry.add(0xF8, 0x80, GetBoardType, gate::FpuAndBoardType);
}

}  // namespace dravik::sim
