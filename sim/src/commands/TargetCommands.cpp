// Target access as the probe firmware answers it: debug register words, the six memory transfers
// and the last read/write status, DAP registers, core and FPU registers, system reset, the reset
// line and the flash patch comparators. Every access goes to the probe's target model at the bench
// time of the exchange.
//
// Status words (ProbeConfig.h, status::), checked in this order:
// - probe not in debug mode: kWrongMode (the reset line also works in idle mode);
// - no target model behind the probe: kNoTarget;
// - access port byte at or above config.accessPorts: kApBadIndex (any valid index reaches the
// core);
// - a debug register or memory access the target's bus refuses: kApFault, as the access port's
//   transfer failed;
// - a core or FPU register access while the core is not halted, or of a register it lacks, and an
//   unknown reset line action: kGenericError; a core register write whose verification the model
//   fails: kWriteVerifyError; a flash patch command for a comparator the FPB lacks: kGenericError.
// Memory transfers answer no status word: the data phase moves straight between the record's buffer
// and the target, and the outcome is kept for the next last read/write status query. Its long form
// carries, in bytes 4-7, the address of the first unit that faulted (0 when none did).
#include <cstdint>

#include "CommandRegistry.h"
#include "target/ArmV7mRegisters.h"
#include "target/CortexM.h"

namespace dravik::sim {

namespace {

constexpr uint32_t kMaxByteTransfer = 64;  // the firmware's buffer for 8-bit transfers
constexpr unsigned kCoreRegisterWords = 21;
constexpr unsigned kFpuRegisterWords = 33;
constexpr unsigned kFirstAnswerWord = 4;  // status word, then two pad bytes

// DAP register file: the debug port answers on port 0xFFFF, access port n on port n. Registers are
// the 64 words of a port's bank; the identification registers are read-only.
constexpr uint16_t kDebugPort = 0xFFFF;
constexpr uint16_t kDpIdr = 0x00;
constexpr uint16_t kApIdr = 0xFC;
constexpr uint16_t kLastDapRegister = 0xFC;
constexpr uint32_t kAhbApIdr = 0x24770011;

enum class ResetLineAction : uint8_t { Assert = 0, Release = 1, Pulse = 2 };

unsigned Answer(CommandContext& ctx, uint16_t status) {
    ctx.putStatus(status);
    return drv::kOk;
}

// Whether a target access may go ahead: status::kOk, or the status that refuses it.
uint16_t TargetReady(CommandContext& ctx, uint8_t apIndex) {
    if (ctx.probe.state.mode != kModeDebug) {
        return status::kWrongMode;
    }
    if (ctx.probe.target() == nullptr) {
        return status::kNoTarget;
    }
    if (apIndex >= ctx.probe.config.accessPorts) {
        return status::kApBadIndex;
    }
    return status::kOk;
}

uint16_t RegisterStatus(RegisterAccess access) {
    switch (access) {
        case RegisterAccess::Ok:
            return status::kOk;
        case RegisterAccess::VerifyFailed:
            return status::kWriteVerifyError;
        case RegisterAccess::NotHalted:
        case RegisterAccess::NoSuchRegister:
            break;
    }
    return status::kGenericError;
}

// ---- Debug registers: F2 35 A0..A3 D0..D3 ap, F2 36 A0..A3 ap

unsigned WriteDebugRegister(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint16_t ready = TargetReady(ctx, ctx.cdb(10));
    if (ready != status::kOk) {
        return Answer(ctx, ready);
    }
    const BusStatus bus =
        ctx.probe.target()->write(ctx.cdb32(2), AccessSize::Word, ctx.cdb32(6), ctx.nowUs);
    return Answer(ctx, bus == BusStatus::Ok ? status::kOk : status::kApFault);
}

unsigned ReadDebugRegister(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint16_t ready = TargetReady(ctx, ctx.cdb(6));
    if (ready != status::kOk) {
        return Answer(ctx, ready);
    }
    uint32_t value = 0;
    if (ctx.probe.target()->read(ctx.cdb32(2), AccessSize::Word, value, ctx.nowUs) !=
        BusStatus::Ok) {
        return Answer(ctx, status::kApFault);
    }
    ctx.put32(kFirstAnswerWord, value);
    return Answer(ctx, status::kOk);
}

// ---- Memory: F2 sub A0..A3 S0 S1 ap; the data phase holds the bytes

unsigned TransferMemory(CommandContext& ctx, AccessSize unit, bool toTarget) {
    ProbeState& s = ctx.probe.state;
    const uint32_t address = ctx.cdb32(2);
    const uint32_t size = ctx.cdb16(6);
    // A data phase shorter than the command announces stalls the probe's endpoint. It may be
    // longer: a one-byte 8-bit transfer moves two bytes.
    if (size > ctx.length) {
        return drv::kBadRecord;
    }
    if (!toTarget) {
        ctx.clearAnswer();
    }
    s.lastRwFaultAddress = 0;
    s.lastRwStatus = TargetReady(ctx, ctx.cdb(8));
    if (s.lastRwStatus == status::kOk && unit == AccessSize::Byte && size > kMaxByteTransfer) {
        s.lastRwStatus = status::kGenericError;
    }
    if (s.lastRwStatus != status::kOk) {
        return drv::kOk;
    }
    CortexM& target = *ctx.probe.target();
    const BlockTransfer done = toTarget
                                   ? target.writeBlock(address, ctx.data, size, unit, ctx.nowUs)
                                   : target.readBlock(address, ctx.data, size, unit, ctx.nowUs);
    if (done.status != BusStatus::Ok) {
        s.lastRwStatus = status::kApFault;
        s.lastRwFaultAddress = address + done.bytesDone;
    }
    return drv::kOk;
}

unsigned ReadMemory32(CommandContext& ctx) {
    return TransferMemory(ctx, AccessSize::Word, false);
}
unsigned WriteMemory32(CommandContext& ctx) {
    return TransferMemory(ctx, AccessSize::Word, true);
}
unsigned ReadMemory16(CommandContext& ctx) {
    return TransferMemory(ctx, AccessSize::HalfWord, false);
}
unsigned WriteMemory16(CommandContext& ctx) {
    return TransferMemory(ctx, AccessSize::HalfWord, true);
}
unsigned ReadMemory8(CommandContext& ctx) {
    return TransferMemory(ctx, AccessSize::Byte, false);
}
unsigned WriteMemory8(CommandContext& ctx) {
    return TransferMemory(ctx, AccessSize::Byte, true);
}

// The query reports the last transfer; it does not clear it.
unsigned LastRwStatus(CommandContext& ctx) {
    ctx.clearAnswer();
    if (ctx.probe.state.mode != kModeDebug) {
        return Answer(ctx, status::kWrongMode);
    }
    ctx.put32(kFirstAnswerWord, ctx.probe.state.lastRwFaultAddress);
    return Answer(ctx, ctx.probe.state.lastRwStatus);
}

// ---- DAP registers: F2 45 P0 P1 R0 R1, F2 46 P0 P1 R0 R1 D0..D3

// Whether the port and register exist: status::kOk, or the status that refuses the access.
uint16_t DapReady(CommandContext& ctx, uint16_t port, uint16_t reg) {
    if (ctx.probe.state.mode != kModeDebug) {
        return status::kWrongMode;
    }
    if (port != kDebugPort && port >= ctx.probe.config.accessPorts) {
        return status::kApBadIndex;
    }
    if (reg % 4 != 0 || reg > kLastDapRegister) {
        return status::kGenericError;
    }
    return status::kOk;
}

bool IsIdRegister(uint16_t port, uint16_t reg) {
    return port == kDebugPort ? reg == kDpIdr : reg == kApIdr;
}

uint32_t DapKey(uint16_t port, uint16_t reg) {
    return uint32_t(port) << 16 | reg;
}

unsigned ReadDapRegister(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint16_t port = ctx.cdb16(2);
    const uint16_t reg = ctx.cdb16(4);
    const uint16_t ready = DapReady(ctx, port, reg);
    if (ready != status::kOk) {
        return Answer(ctx, ready);
    }
    uint32_t value = 0;
    if (IsIdRegister(port, reg)) {
        value = port == kDebugPort ? ctx.probe.config.idCodes[0] : kAhbApIdr;
    } else {
        const auto& file = ctx.probe.state.dapRegisters;
        const auto it = file.find(DapKey(port, reg));
        value = it == file.end() ? 0 : it->second;
    }
    ctx.put32(kFirstAnswerWord, value);
    return Answer(ctx, status::kOk);
}

unsigned WriteDapRegister(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint16_t port = ctx.cdb16(2);
    const uint16_t reg = ctx.cdb16(4);
    const uint16_t ready = DapReady(ctx, port, reg);
    if (ready != status::kOk) {
        return Answer(ctx, ready);
    }
    if (!IsIdRegister(port, reg)) {
        ctx.probe.state.dapRegisters[DapKey(port, reg)] = ctx.cdb32(6);
    }
    return Answer(ctx, status::kOk);
}

// ---- Core registers: F2 3A ap, F2 3D ap, F2 33 reg ap, F2 34 reg D0..D3 ap

unsigned ReadAllRegisters(CommandContext& ctx) {
    ctx.clearAnswer();
    uint16_t result = TargetReady(ctx, ctx.cdb(2));
    for (unsigned reg = 0; result == status::kOk && reg < kCoreRegisterWords; ++reg) {
        if (reg == armv7m::regsel::kUnassigned) {
            continue;  // its word stays 0
        }
        uint32_t value = 0;
        result = RegisterStatus(ctx.probe.target()->readCoreRegister(reg, value, ctx.nowUs));
        ctx.put32(kFirstAnswerWord + 4 * reg, value);
    }
    if (result != status::kOk) {
        ctx.clearAnswer();  // no partial register set
    }
    return Answer(ctx, result);
}

unsigned ReadFpuRegisters(CommandContext& ctx) {
    ctx.clearAnswer();
    uint16_t result = TargetReady(ctx, ctx.cdb(2));
    for (unsigned index = 0; result == status::kOk && index < kFpuRegisterWords; ++index) {
        uint32_t value = 0;
        result = RegisterStatus(ctx.probe.target()->readFpuRegister(index, value, ctx.nowUs));
        ctx.put32(kFirstAnswerWord + 4 * index, value);
    }
    if (result != status::kOk) {
        ctx.clearAnswer();
    }
    return Answer(ctx, result);
}

unsigned ReadRegister(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint16_t ready = TargetReady(ctx, ctx.cdb(3));
    if (ready != status::kOk) {
        return Answer(ctx, ready);
    }
    uint32_t value = 0;
    const uint16_t result =
        RegisterStatus(ctx.probe.target()->readCoreRegister(ctx.cdb(2), value, ctx.nowUs));
    if (result == status::kOk) {
        ctx.put32(kFirstAnswerWord, value);
    }
    return Answer(ctx, result);
}

unsigned WriteRegister(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint16_t ready = TargetReady(ctx, ctx.cdb(7));
    if (ready != status::kOk) {
        return Answer(ctx, ready);
    }
    return Answer(ctx, RegisterStatus(ctx.probe.target()->writeCoreRegister(
                           ctx.cdb(2), ctx.cdb32(3), ctx.nowUs)));
}

// ---- Resets: F2 32, F2 3C action

// A system reset request, as the firmware makes it through AIRCR.
unsigned ResetSystem(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint16_t ready = TargetReady(ctx, 0);
    if (ready != status::kOk) {
        return Answer(ctx, ready);
    }
    const uint32_t request = armv7m::aircr::kVectKey | armv7m::aircr::kSysResetReq;
    const BusStatus bus =
        ctx.probe.target()->write(armv7m::kAircr, AccessSize::Word, request, ctx.nowUs);
    return Answer(ctx, bus == BusStatus::Ok ? status::kOk : status::kApFault);
}

// The probe drives nRST in idle and debug mode; with no target behind it the pin drives nothing.
unsigned TargetHardReset(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint8_t mode = ctx.probe.state.mode;
    if (mode != kModeIdle && mode != kModeDebug) {
        return Answer(ctx, status::kWrongMode);
    }
    const uint8_t action = ctx.cdb(2);
    if (action > static_cast<uint8_t>(ResetLineAction::Pulse)) {
        return Answer(ctx, status::kGenericError);
    }
    if (CortexM* target = ctx.probe.target()) {
        switch (static_cast<ResetLineAction>(action)) {
            case ResetLineAction::Assert:
                target->setResetLine(true, ctx.nowUs);
                break;
            case ResetLineAction::Release:
                target->setResetLine(false, ctx.nowUs);
                break;
            case ResetLineAction::Pulse:
                target->setResetLine(true, ctx.nowUs);
                target->setResetLine(false, ctx.nowUs);
                break;
        }
    }
    return Answer(ctx, status::kOk);
}

// ---- Flash patch: F2 38 cc A0..A3 mm, F2 39 cc

// The firmware programs code comparator cc to break at the address and turns the FPB on. On a
// revision 1 FPB mm picks the half-words replaced: 0 the lower, 1 the upper, 2 both; a revision 2
// comparator takes the address itself. F2 39 frees the comparator.
unsigned SetFlashPatch(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint16_t ready = TargetReady(ctx, 0);
    if (ready != status::kOk) {
        return Answer(ctx, ready);
    }
    CortexM& target = *ctx.probe.target();
    const FpbConfig& fpb = target.config().fpb;
    const uint8_t comparator = ctx.cdb(2);
    const uint32_t address = ctx.cdb32(3);
    const uint8_t mode = ctx.cdb(7);
    if (comparator >= fpb.codeComparators || mode > 2) {
        return Answer(ctx, status::kGenericError);
    }
    constexpr uint32_t kReplace[] = {0x40000000, 0x80000000, 0xC0000000};
    const uint32_t value =
        fpb.revision >= 2 ? (address & ~1u) | 1u : (address & 0x1FFFFFFCu) | kReplace[mode] | 1u;
    const bool ok =
        target.write(armv7m::fpComp(comparator), AccessSize::Word, value, ctx.nowUs) ==
            BusStatus::Ok &&
        target.write(armv7m::kFpCtrl, AccessSize::Word,
                     armv7m::fpctrl::kKey | armv7m::fpctrl::kEnable, ctx.nowUs) == BusStatus::Ok;
    return Answer(ctx, ok ? status::kOk : status::kApFault);
}

unsigned ClearFlashPatch(CommandContext& ctx) {
    ctx.clearAnswer();
    const uint16_t ready = TargetReady(ctx, 0);
    if (ready != status::kOk) {
        return Answer(ctx, ready);
    }
    CortexM& target = *ctx.probe.target();
    const uint8_t comparator = ctx.cdb(2);
    if (comparator >= target.config().fpb.codeComparators) {
        return Answer(ctx, status::kGenericError);
    }
    const BusStatus bus = target.write(armv7m::fpComp(comparator), AccessSize::Word, 0, ctx.nowUs);
    return Answer(ctx, bus == BusStatus::Ok ? status::kOk : status::kApFault);
}

}  // namespace

void RegisterTargetCommands(CommandRegistry& registry) {
    constexpr uint8_t kDebug = 0xF2;
    registry.add(kDebug, 0x35, WriteDebugRegister);
    registry.add(kDebug, 0x36, ReadDebugRegister);
    registry.add(kDebug, 0x07, ReadMemory32);
    registry.add(kDebug, 0x08, WriteMemory32);
    registry.add(kDebug, 0x0C, ReadMemory8);
    registry.add(kDebug, 0x0D, WriteMemory8);
    registry.add(kDebug, 0x47, ReadMemory16, gate::McoAndRw16);
    registry.add(kDebug, 0x48, WriteMemory16, gate::McoAndRw16);
    registry.add(kDebug, 0x3B, LastRwStatus);
    registry.add(kDebug, 0x3E, LastRwStatus, gate::FpuAndBoardType);
    registry.add(kDebug, 0x45, ReadDapRegister, gate::DapReg);
    registry.add(kDebug, 0x46, WriteDapRegister, gate::DapReg);
    registry.add(kDebug, 0x3A, ReadAllRegisters);
    registry.add(kDebug, 0x3D, ReadFpuRegisters, gate::FpuAndBoardType);
    registry.add(kDebug, 0x33, ReadRegister);
    registry.add(kDebug, 0x34, WriteRegister);
    registry.add(kDebug, 0x32, ResetSystem);
    registry.add(kDebug, 0x3C, TargetHardReset, gate::VoltageNrstAndSwv);
    registry.add(kDebug, 0x38, SetFlashPatch);
    registry.add(kDebug, 0x39, ClearFlashPatch);
}

}  // namespace dravik::sim
