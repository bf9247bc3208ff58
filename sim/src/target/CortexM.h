#pragma once
// A register-level Armv7-M target as a debugger sees it through its access port: flash and SRAM,
// the System Control Space (SCB and debug registers), the FPB, and attached private peripheral
// blocks. It executes no code: a running core stays at its PC, a step moves the PC by 2.
//
// Time is the caller's: every call that can observe or change the target takes nowUs (monotonic
// microseconds); an earlier time than the model's counts as the model's. Queries without nowUs
// report the state at the last time handed in.
//
// Bus rules: misaligned accesses fault. Flash is read-only to the bus (writes fault; fixtures fill
// it with loadMemory). The private peripheral bus (0xE0000000-0xE00FFFFF) and attached peripherals
// take word accesses only: byte and half-word accesses there fault. Addresses that neither memory,
// the SCS registers modelled here, the FPB nor a peripheral claim fault.

#include <DravikBench/TargetConfig.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "target/Bus.h"
#include "target/CoreRegisters.h"
#include "target/Fpb.h"
#include "target/Memory.h"
#include "target/Peripheral.h"
#include "target/SystemControl.h"

namespace dravik::sim {

enum class RunState : uint8_t { Running, Sleeping, Halted, LockedUp, InReset };

enum class ResetKind : uint8_t { PowerOn, ResetLine, SystemReset, VectorReset };

// Outcome of a core or FPU register access.
enum class RegisterAccess : uint8_t {
    Ok,
    NotHalted,       // the core is not in Debug state (running, sleeping, locked up or in reset)
    NoSuchRegister,  // REGSEL 19 or above 20; FPU index above 32 or a target without FPU
    VerifyFailed,  // write done, but its read-back is to be reported as a mismatch (status 0x000D)
};

class CortexM {
  public:
    // The target has powered up and left reset at time 0 (unless it stays in reset). Throws
    // std::invalid_argument for a configuration that describeConfigError rejects.
    explicit CortexM(const TargetConfig& config = TargetConfig{});
    CortexM(const CortexM&) = delete;
    CortexM& operator=(const CortexM&) = delete;

    const TargetConfig& config() const { return config_; }

    // Time. Ends a reset whose duration has elapsed and tells every peripheral the activity that
    // held since it was last told; state changes split spans so each one is constant.
    void advanceTo(uint64_t nowUs);
    uint64_t nowUs() const { return nowUs_; }

    // Addresses a peripheral claims are routed to it before the SCS and memory are looked up.
    // The peripheral must outlive the model.
    void attach(Peripheral& peripheral);

    // Single accesses of 1, 2 or 4 bytes; the value is in the low bits, little-endian.
    [[nodiscard]] BusStatus read(uint32_t address, AccessSize size, uint32_t& value,
                                 uint64_t nowUs);
    [[nodiscard]] BusStatus write(uint32_t address, AccessSize size, uint32_t value,
                                  uint64_t nowUs);
    // Consecutive accesses of `unit` each, in ascending address order, stopping at the first fault
    // (bytesDone tells where). A length that is not a multiple of the unit faults at the remainder;
    // so does running past 0xFFFFFFFF.
    [[nodiscard]] BlockTransfer readBlock(uint32_t address, uint8_t* data, uint32_t length,
                                          AccessSize unit, uint64_t nowUs);
    [[nodiscard]] BlockTransfer writeBlock(uint32_t address, const uint8_t* data, uint32_t length,
                                           AccessSize unit, uint64_t nowUs);

    // Back door for fixtures: flash and SRAM bytes without bus rules or time; false when any byte
    // of the range is outside one region.
    bool loadMemory(uint32_t address, const uint8_t* data, size_t length);
    bool peekMemory(uint32_t address, uint8_t* data, size_t length) const;

    // Core registers by REGSEL number (0-20) and FPU words (0-31 S0..S31, 32 FPSCR); only in Debug
    // state. The same registers are reachable through DCRSR/DCRDR on the bus.
    [[nodiscard]] RegisterAccess readCoreRegister(unsigned regsel, uint32_t& value, uint64_t nowUs);
    [[nodiscard]] RegisterAccess writeCoreRegister(unsigned regsel, uint32_t value, uint64_t nowUs);
    [[nodiscard]] RegisterAccess readFpuRegister(unsigned index, uint32_t& value, uint64_t nowUs);
    [[nodiscard]] RegisterAccess writeFpuRegister(unsigned index, uint32_t value, uint64_t nowUs);
    // Arms a one-shot VerifyFailed on the next core register write that is carried out.
    void failNextCoreRegisterWrite() { failNextRegisterWrite_ = true; }
    bool coreRegistersAccessible() const { return halted(); }
    // The PC as the DWT's PC sampler sees it, whatever the run state.
    uint32_t programCounter() const { return registers_.pc(); }

    // Run state and reset.
    RunState runState() const;
    CoreActivity activity() const;
    uint32_t peekDhcsr() const;  // DHCSR as a read would see it, without clearing sticky bits
    // Whether the last single step ran with interrupts masked (C_MASKINTS set); false before any.
    // DHCSR writes without the debug key are ignored, so a step whose masking write had a wrong
    // key shows here as unmasked.
    bool lastStepMasked() const { return lastStepMasked_; }
    uint32_t demcr() const { return demcr_; }
    // nRST: asserting holds the core in reset; releasing starts the reset sequence (a system
    // reset: debug registers keep their values).
    void setResetLine(bool asserted, uint64_t nowUs);
    bool resetLineAsserted() const { return resetLineAsserted_; }
    // Also clears the debug logic (DHCSR control bits, DEMCR, DFSR, FPB) and tells peripherals.
    void powerOnReset(uint64_t nowUs);
    ResetKind lastResetKind() const { return lastReset_; }
    unsigned resetCount() const { return resetCount_; }  // resets begun since construction

  private:
    enum class Exec : uint8_t { Running, Sleeping, Halted, LockedUp };

    static const TargetConfig& validated(const TargetConfig& config);

    // Time and peripherals (CortexM.cpp).
    void moveTimeTo(uint64_t nowUs);
    void notifyIfChanged(const CoreActivity& before);
    Peripheral* claimant(uint32_t address) const;

    // Bus routing (CortexM.cpp).
    BusStatus busRead(uint32_t address, AccessSize size, uint32_t& value);
    BusStatus busWrite(uint32_t address, AccessSize size, uint32_t value);
    BusStatus readPpb(uint32_t address, uint32_t& value);
    BusStatus writePpb(uint32_t address, uint32_t value);

    // Run control and reset (RunControl.cpp).
    bool halted() const { return !inReset_ && exec_ == Exec::Halted; }
    uint32_t readDhcsr();
    void writeDhcsr(uint32_t value);
    void writeDcrsr(uint32_t value);
    void requestHalt();
    void enterDebugState(uint32_t dfsrReason);
    void stepInstruction();
    void resume();
    void enterLockup(bool haltRecovers);
    void beginReset(ResetKind kind);
    void startResetTimer();
    void completeReset();

    TargetConfig config_;
    Memory memory_;
    CoreRegisters registers_;
    Fpb fpb_;
    SystemControl system_;
    std::vector<Peripheral*> peripherals_;

    uint64_t nowUs_ = 0;

    Exec exec_ = Exec::Running;
    bool lockupHaltRecovers_ = true;
    bool inReset_ = false;
    bool resetLineAsserted_ = false;
    bool resetTimed_ = false;  // in reset until resetEndsUs_
    uint64_t resetEndsUs_ = 0;
    ResetKind lastReset_ = ResetKind::PowerOn;
    unsigned resetCount_ = 0;

    // DHCSR control bits and sticky status.
    bool cDebugen_ = false;
    bool cHalt_ = false;
    bool cStep_ = false;
    bool cMaskints_ = false;
    bool cSnapstall_ = false;
    bool resetSticky_ = true;
    bool retireSticky_ = false;
    bool lastStepMasked_ = false;

    uint32_t demcr_ = 0;
    uint32_t dfsr_ = 0;
    uint32_t dcrdr_ = 0;
    bool failNextRegisterWrite_ = false;
};

}  // namespace dravik::sim
