// Dispatch of probe commands to the simulated firmware, keyed by class and sub-command.
#pragma once

#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "DravikBench/Bench.h"
#include "DravikUSBDriver.h"

namespace dravik::sim {

// One exchange as a command handler sees it.
struct CommandContext {
    Bench& bench;
    SimProbe& probe;
    const TDeviceRequest& record;
    uint8_t* data;    // the record's buffer (answer, or data sent for direction 0); may be null
    uint32_t length;  // the record's bufferLength
    uint64_t nowUs;

    uint8_t cdb(unsigned i) const { return i < 16 ? record.cdb[i] : 0; }
    uint16_t cdb16(unsigned i) const { return uint16_t(cdb(i) | cdb(i + 1) << 8); }
    uint32_t cdb32(unsigned i) const { return uint32_t(cdb16(i)) | uint32_t(cdb16(i + 2)) << 16; }

    // Answer writers: never past the record's bufferLength, never into data the host sent.
    void put8(uint32_t offset, uint8_t value) {
        if (data != nullptr && offset < length && record.direction != DRAVIK_DIR_TO_PROBE) {
            data[offset] = value;
        }
    }
    void put16(uint32_t offset, uint16_t value) {
        put8(offset, uint8_t(value));
        put8(offset + 1, uint8_t(value >> 8));
    }
    void put32(uint32_t offset, uint32_t value) {
        put16(offset, uint16_t(value));
        put16(offset + 2, uint16_t(value >> 16));
    }
    void putStatus(uint16_t word) { put16(0, word); }
    void clearAnswer() {
        if (data != nullptr && record.direction != DRAVIK_DIR_TO_PROBE) {
            std::memset(data, 0, length);
        }
    }
};

// A handler returns the transport result of the exchange (drv::kOk when the probe answered).
using CommandHandler = unsigned (*)(CommandContext& ctx);
// Whether the probe's firmware has the command.
using FirmwareGate = bool (*)(const ProbeConfig& config);

class CommandRegistry {
  public:
    // A command with a sub-command byte (cdb[1]).
    void add(uint8_t cls, uint8_t sub, CommandHandler handler, FirmwareGate gate = nullptr);
    // A class whose cdb[1] is a parameter, not a sub-command.
    void addClass(uint8_t cls, CommandHandler handler, FirmwareGate gate = nullptr);
    // The trace stream read (direction 3, no command block).
    void setTraceRead(CommandHandler handler) { traceRead_ = handler; }

    unsigned dispatch(CommandContext& ctx) const;

  private:
    struct Entry {
        CommandHandler handler = nullptr;
        FirmwareGate gate = nullptr;
    };
    std::unordered_map<uint16_t, Entry> commands_;
    std::unordered_map<uint8_t, Entry> classes_;
    CommandHandler traceRead_ = nullptr;
};

// The simulated firmware: every command group registers itself here.
const CommandRegistry& Firmware();

// Command groups, one file each under commands/.
void RegisterVersionCommands(CommandRegistry& registry);
void RegisterModeCommands(CommandRegistry& registry);
void RegisterClockCommands(CommandRegistry& registry);
void RegisterTargetCommands(CommandRegistry& registry);
void RegisterTraceCommands(CommandRegistry& registry);
void RegisterServiceCommands(CommandRegistry& registry);

// Firmware generations' command sets, as the simulated firmware has them.
namespace gate {
bool FpuAndBoardType(const ProbeConfig& c);
bool SwitchFreq(const ProbeConfig& c);
bool TcpAndAp(const ProbeConfig& c);
bool LedAndDiskName(const ProbeConfig& c);
bool VoltageNrstAndSwv(const ProbeConfig& c);
bool SwdClk(const ProbeConfig& c);
bool JtagClk(const ProbeConfig& c);
bool DapReg(const ProbeConfig& c);
bool McoAndRw16(const ProbeConfig& c);
}  // namespace gate

}  // namespace dravik::sim
