// The one table of probe commands: class, sub-command, command-block length, data direction, answer
// length and whether the answer starts with a status word. Operations name a row and add
// parameters; no operation fills the bytes of a record by hand, and the answer buffer an operation
// gives is checked against its row's length when compiling.
#ifndef DRAVIK_PROBE_COMMANDS_H
#define DRAVIK_PROBE_COMMANDS_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

class DbgDev;

namespace dravik {

enum class Dir : uint8_t { ToProbe = 0, FromProbe = 1, TraceStream = 3 };

struct ProbeCommand {
    uint8_t cls;        // cdb[0]; 0 for the trace read, which has no command block
    uint8_t sub;        // cdb[1]
    bool hasSub;        // some class commands have no sub-command byte
    uint8_t cdbLength;  // 10, or 0 for the trace read and the LED/disk/AP commands
    Dir dir;
    uint32_t length;  // fixed data length; kVariableLength when given per call
    bool statusWord;  // the first two answer bytes are checked as a status word
};

constexpr uint32_t kVariableLength = 0xFFFFFFFFu;

namespace cmd {
// Class commands.
constexpr ProbeCommand GetVersion{0xF1, 0x80, true, 10, Dir::FromProbe, 6, false};
constexpr ProbeCommand DfuExit{0xF3, 0x07, true, 10, Dir::FromProbe, 0, false};
constexpr ProbeCommand MonowireEnter{0xF4, 0x00, true, 10, Dir::FromProbe, 0, false};
constexpr ProbeCommand MonowireExit{0xF4, 0x01, true, 10, Dir::FromProbe, 0, false};
constexpr ProbeCommand GetCurrentMode{0xF5, 0x00, false, 10, Dir::FromProbe, 2, false};
constexpr ProbeCommand GetTargetVoltage{0xF7, 0x00, false, 10, Dir::FromProbe, 8, false};
constexpr ProbeCommand GetBoardType{0xF8, 0x80, true, 10, Dir::FromProbe, 4, false};
constexpr ProbeCommand SelectMco{0xFA, 0x00, false, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand GetVersionExt{0xFB, 0x80, true, 10, Dir::FromProbe, 12, false};

// Debug commands (class 0xF2).
constexpr uint8_t kDebug = 0xF2;
constexpr ProbeCommand ReadMemory32{kDebug, 0x07, true, 10, Dir::FromProbe, kVariableLength, false};
constexpr ProbeCommand WriteMemory32{kDebug, 0x08, true, 10, Dir::ToProbe, kVariableLength, false};
constexpr ProbeCommand ReadMemory8{kDebug, 0x0C, true, 10, Dir::FromProbe, kVariableLength, false};
constexpr ProbeCommand WriteMemory8{kDebug, 0x0D, true, 10, Dir::ToProbe, kVariableLength, false};
constexpr ProbeCommand JtagExit{kDebug, 0x21, true, 10, Dir::FromProbe, 0, false};
constexpr ProbeCommand JtagEnter{kDebug, 0x30, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand ReadIdCodes{kDebug, 0x31, true, 10, Dir::FromProbe, 12, true};
constexpr ProbeCommand ResetSystem{kDebug, 0x32, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand ReadRegister{kDebug, 0x33, true, 10, Dir::FromProbe, 8, true};
constexpr ProbeCommand WriteRegister{kDebug, 0x34, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand WriteDebugRegister{kDebug, 0x35, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand ReadDebugRegister{kDebug, 0x36, true, 10, Dir::FromProbe, 8, true};
constexpr ProbeCommand SetFlashPatch{kDebug, 0x38, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand ClearFlashPatch{kDebug, 0x39, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand ReadAllRegisters{kDebug, 0x3A, true, 10, Dir::FromProbe, 88, true};
constexpr ProbeCommand LastRwStatus{kDebug, 0x3B, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand TargetHardReset{kDebug, 0x3C, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand ReadFpuRegisters{kDebug, 0x3D, true, 10, Dir::FromProbe, 136, true};
constexpr ProbeCommand LastRwStatusLong{kDebug, 0x3E, true, 10, Dir::FromProbe, 12, true};
constexpr ProbeCommand StartSwv{kDebug, 0x40, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand StopSwv{kDebug, 0x41, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand SwvPendingCount{kDebug, 0x42, true, 10, Dir::FromProbe, 2, false};
constexpr ProbeCommand SetSwdClockDivider{kDebug, 0x43, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand SetJtagClockDivider{kDebug, 0x44, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand ReadDapRegister{kDebug, 0x45, true, 10, Dir::FromProbe, 8, true};
constexpr ProbeCommand WriteDapRegister{kDebug, 0x46, true, 10, Dir::FromProbe, 2, true};
constexpr ProbeCommand ReadMemory16{kDebug, 0x47, true, 10, Dir::FromProbe, kVariableLength, false};
constexpr ProbeCommand WriteMemory16{kDebug, 0x48, true, 10, Dir::ToProbe, kVariableLength, false};
constexpr ProbeCommand BlinkLed{kDebug, 0x49, true, 0, Dir::FromProbe, 2, true};
constexpr ProbeCommand GetVolumeName{kDebug, 0x4A, true, 0, Dir::FromProbe, 14, true};
constexpr ProbeCommand InitAp{kDebug, 0x4B, true, 0, Dir::FromProbe, 2, true};
constexpr ProbeCommand CloseAp{kDebug, 0x4C, true, 0, Dir::FromProbe, 2, true};
constexpr ProbeCommand SetComFreq{kDebug, 0x61, true, 10, Dir::FromProbe, 8, true};
constexpr ProbeCommand GetComFreq{kDebug, 0x62, true, 10, Dir::FromProbe, 52, true};
constexpr ProbeCommand SwitchFreq{kDebug, 0x63, true, 10, Dir::FromProbe, 8, true};

// The trace stream read has no command block at all.
constexpr ProbeCommand ReadTrace{0x00, 0x00, false, 0, Dir::TraceStream, kVariableLength, false};
}  // namespace cmd

// The parameter bytes of a command block, after the class and sub-command; multi-byte values go
// little-endian. The type counts the bytes, so a command given more than a record's block holds
// does not compile.
constexpr unsigned kMaxParamBytes = 14;

template <unsigned Size = 0>
class CommandParams {
    static_assert(Size <= kMaxParamBytes, "more parameter bytes than a command block holds");

  public:
    CommandParams() = default;
    CommandParams<Size + 1> u8(uint32_t value) const {
        return CommandParams<Size + 1>(bytes_, static_cast<uint8_t>(value));
    }
    CommandParams<Size + 2> u16(uint32_t value) const { return u8(value).u8(value >> 8); }
    CommandParams<Size + 4> u32(uint32_t value) const { return u16(value).u16(value >> 16); }
    const uint8_t* data() const { return bytes_; }
    static constexpr unsigned size() { return Size; }

  private:
    template <unsigned>
    friend class CommandParams;
    CommandParams(const uint8_t* before, uint8_t last) {
        for (unsigned i = 0; i + 1 < Size; ++i) {
            bytes_[i] = before[i];
        }
        bytes_[Size - 1] = last;
    }
    uint8_t bytes_[kMaxParamBytes] = {};
};

namespace detail {
// Builds the zero-filled heap record for `command`, sends it through the device object's transport
// and frees it. `data` is the answer buffer or the data to send, `length` its size.
int Send(DbgDev& dev, const ProbeCommand& command, const uint8_t* params, unsigned paramBytes,
         void* data, uint32_t length);
}  // namespace detail

// A command of the table with a fixed answer, received into the caller's buffer; the buffer must
// hold the whole answer, which is checked when compiling.
template <const ProbeCommand& Command, unsigned P, size_t N>
int Exchange(DbgDev& dev, const CommandParams<P>& params, uint8_t (&answer)[N]) {
    static_assert(Command.length != kVariableLength && Command.length != 0,
                  "this command has no fixed answer: use the other forms");
    static_assert(N >= Command.length, "the answer buffer is shorter than the command's answer");
    return detail::Send(dev, Command, params.data(), P, answer, Command.length);
}

// A command without a data phase.
template <const ProbeCommand& Command, unsigned P>
int Exchange(DbgDev& dev, const CommandParams<P>& params) {
    static_assert(Command.length == 0, "this command has an answer: give it a buffer");
    return detail::Send(dev, Command, params.data(), P, nullptr, 0);
}

// A command whose answer is one value, received straight into the caller's variable, which must be
// exactly the answer's size.
template <const ProbeCommand& Command, unsigned P, typename T>
int ExchangeInto(DbgDev& dev, const CommandParams<P>& params, T* answer) {
    static_assert(std::is_arithmetic<T>::value, "the answer is received into a plain number");
    static_assert(sizeof(T) == Command.length, "the variable is not the size of the answer");
    return detail::Send(dev, Command, params.data(), P, answer, Command.length);
}

// A variable-length data phase (memory transfers, the trace read): `length` bytes from or into
// `data`.
template <unsigned P>
int ExchangeData(DbgDev& dev, const ProbeCommand& command, const CommandParams<P>& params,
                 void* data, uint32_t length) {
    return detail::Send(dev, command, params.data(), P, data, length);
}

inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t LoadLe16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

}  // namespace dravik

#endif
