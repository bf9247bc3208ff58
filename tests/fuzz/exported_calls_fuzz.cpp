// The exported C functions under fuzzing: a bench of one to three fuzzed probes, then up to 64
// steps, each either a call with fuzzed arguments (null pointers, negative, zero and huge lengths
// and offsets, odd prescalers and flags, overlong serial numbers) or a change of what the bench
// will answer (scripted status words and bytes, pending counts above 4000, faults, transfers cut
// short, trace fed to a receiver, probes unplugged). Every buffer handed over is a heap block of
// exactly the size the call is told, so a write past it shows; the results are checked against
// what the interface promises about its out-parameters.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DbgDev.h"
#include "DravikBench/Bench.h"
#include "DravikTrace.h"
#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "SteppedWallClock.h"
#include "TraceBlocks.h"

namespace dravik::fuzz {

namespace {

using sim::Fault;
using sim::ScriptedAnswer;

// A heap block of exactly `size` bytes (a zero-size block is still a distinct pointer).
struct Block {
    explicit Block(size_t n) : size(n), data(new char[n == 0 ? 1 : n]) {
        std::memset(data.get(), 0x5A, n == 0 ? 1 : n);
    }
    size_t size;
    std::unique_ptr<char[]> data;
};

// Each diagnostic the device object produces is measured, so a text built from bytes without a
// terminator shows.
void Sink(void*, const char* text) {
    DRAVIK_FUZZ_REQUIRE(std::strlen(text) < (1u << 20));
}

void AttachSink() {
    if (g_dev != nullptr) {
        g_dev->SetLogSink(Sink, nullptr);
    }
}

// Every text buffer stays terminated inside its 256 bytes.
void CheckTexts() {
    DRAVIK_FUZZ_REQUIRE(strnlen(g_currentStep, DRAVIK_TEXT_SIZE) < DRAVIK_TEXT_SIZE);
    DRAVIK_FUZZ_REQUIRE(strnlen(g_errorMsg, DRAVIK_TEXT_SIZE) < DRAVIK_TEXT_SIZE);
    DRAVIK_FUZZ_REQUIRE(strnlen(g_warningMsg, DRAVIK_TEXT_SIZE) < DRAVIK_TEXT_SIZE);
}

std::string Serial(FuzzInput& in, const std::vector<std::string>& known) {
    switch (in.u8() % 5) {
        case 0:
        case 1:
            return known.empty() ? std::string("DRAVIK-BENCH-0001") : known[in.u8() % known.size()];
        case 2:
            return std::string(32 + in.u8() % 8, 'S');  // fills the 32-byte field, or more
        case 3:
            return std::string(200 + in.u16() % 600, 'L');  // longer than any text buffer
        default:
            return in.text(64);
    }
}

sim::ProbeConfig Probe(FuzzInput& in, int index) {
    sim::ProbeConfig p;
    p.serial = in.oneIn(3) ? in.text(40) : "DRAVIK-BENCH-000" + std::to_string(index + 1);
    p.generation = in.pick<uint8_t>({3, 3, 3, 2, 1}, in.u8());
    p.jtagVersion = in.oneIn(2) ? p.jtagVersion : static_cast<uint8_t>(in.u8() % 64);
    p.initialMode = in.pick<uint8_t>(
        {sim::kModeDfu, sim::kModeIdle, sim::kModeDebug, sim::kModeMonowire}, in.u8());
    p.shortVersionZeroed = p.generation >= 3 && !in.oneIn(8);
    p.targetAttached = !in.oneIn(8);
    p.infoResult = in.oneIn(16) ? in.u32() : sim::drv::kOk;
    p.openResult = in.oneIn(16) ? in.u32() : sim::drv::kOk;
    p.switchFreqChangesSettings = in.oneIn(8);
    p.accessPorts = in.u8() % 4;
    // Small memories keep each input quick; the reset vector still lies in flash.
    p.target.flash.size = 4096;
    p.target.sram.size = 8192;
    p.target.resetDurationUs = in.oneIn(4) ? in.u16() : 0;
    p.target.scenario.staysInReset = in.oneIn(32);
    p.target.scenario.neverHalts = in.oneIn(32);
    p.target.scenario.idlesInWfi = in.oneIn(16);
    return p;
}

// The command a scripted answer or a pending count applies to.
std::vector<uint8_t> Match(FuzzInput& in) {
    static const std::vector<std::vector<uint8_t>> kCommands = {
        {},           {0xF1, 0x80}, {0xFB, 0x80}, {0xF5},       {0xF3, 0x07}, {0xF7},
        {0xF2, 0x30}, {0xF2, 0x4B}, {0xF2, 0x36}, {0xF2, 0x35}, {0xF2, 0x40}, {0xF2, 0x41},
        {0xF2, 0x42}, {0xF2, 0x07}, {0xF2, 0x3E}, {0xF2, 0x61}, {0xF2, 0x62}, {0xF2, 0x49},
        {0xF2, 0x34}, {0xF2, 0x21}, {0x00},
    };
    return kCommands[in.u8() % kCommands.size()];
}

uint16_t StatusWord(FuzzInput& in) {
    return in.pick<uint16_t>({0x0080, 0x0005, 0x0009, 0x0004, 0x001B, 0x001C, 0x001D, 0x0011,
                              0x0019, 0x0031, 0x0040, 0x0081, 0x0083, 0x000D, 0x0180},
                             in.u16());
}

void ChangeTheBench(FuzzInput& in, sim::Bench& b) {
    switch (in.u8() % 8) {
        case 0: {  // a fault a few exchanges ahead
            Fault f;
            f.kind = in.pick({Fault::Kind::Transport, Fault::Kind::Status, Fault::Kind::Unplug,
                              Fault::Kind::ShortTransfer});
            f.value = f.kind == Fault::Kind::Status          ? StatusWord(in)
                      : f.kind == Fault::Kind::ShortTransfer ? in.u16() % 80
                                                             : in.pick<uint32_t>({0, 2}, in.u32());
            b.injectFault(1 + in.u8() % 24, f);
            break;
        }
        case 1: {  // a status word and bytes after it
            const uint16_t word = StatusWord(in);
            ScriptedAnswer a = ScriptedAnswer::Status(word, in.bytes(24));
            b.script(a.When(Match(in)));
            break;
        }
        case 2: {  // raw answer bytes, possibly fewer than asked for, or a transport result
            ScriptedAnswer a = in.oneIn(4) ? ScriptedAnswer::Transport(in.u32())
                                           : ScriptedAnswer::Bytes(in.bytes(48));
            b.script(a.When(Match(in)));
            break;
        }
        case 3: {  // a pending count, above 4000 as often as not
            const uint16_t count =
                in.pick<uint16_t>({0, 1, 3999, 4000, 4001, 8000, 65535}, in.u16());
            b.script(
                ScriptedAnswer::Bytes({uint8_t(count), uint8_t(count >> 8)}).When({0xF2, 0x42}));
            break;
        }
        case 4: {  // trace into a running receiver
            if (b.probeCount() > 0) {
                const std::vector<uint8_t> bytes = in.bytes(600);
                b.probe(in.u8() % b.probeCount()).feedSwv(bytes.data(), bytes.size());
            }
            break;
        }
        case 5:
            // Up to 50 ms of bench time: enough to fill the probe's buffer at any rate, short
            // enough that the simulated target's trace does not dominate each execution.
            b.clock.advance(in.u32() % 50000);
            break;
        case 6:  // unplugged between calls
            if (b.probeCount() > 0 && in.oneIn(4)) {
                b.removeProbe(in.u8() % b.probeCount());
            }
            break;
        default:
            b.driver.countOverride = in.oneIn(4) ? in.u8() % 6 : -1;
            b.driver.reenumerateResult = in.oneIn(8) ? in.u32() : sim::drv::kOk;
            break;
    }
}

int ChooseLength(FuzzInput& in, size_t capacity) {
    const int cap = static_cast<int>(capacity);
    return in.pick<int>({cap, cap, 0, -1, INT_MIN, cap / 2, cap - 1}, cap);
}

void CopyOut(FuzzInput& in, bool error) {
    const int length = in.pick<int>({-5, -1, 0, 1, 2, 3, 100, 254, 255, 256, 300}, in.u16() % 600);
    Block message(length < 0 ? 8 : static_cast<size_t>(length) + 1);
    int n = length;
    int* lengthArg = in.oneIn(8) ? nullptr : &n;
    char* messageArg = in.oneIn(8) ? nullptr : message.data.get();
    const int r =
        error ? DravikLastError(messageArg, lengthArg) : DravikLastWarning(messageArg, lengthArg);
    DRAVIK_FUZZ_REQUIRE(r == DRAVIK_OK || r == DRAVIK_NO_MESSAGE || r == DRAVIK_IGNORED ||
                        r == DRAVIK_BAD_ARGUMENT);
    if (r == DRAVIK_OK) {
        DRAVIK_FUZZ_REQUIRE(n >= 0 && std::strlen(message.data.get()) == static_cast<size_t>(n));
    }
    if (r == DRAVIK_IGNORED) {
        DRAVIK_FUZZ_REQUIRE(n == length && message.data[static_cast<size_t>(length)] == '\0');
    }
}

void Enumerate(FuzzInput& in) {
    const std::string path = in.oneIn(2) ? std::string() : in.text(600);
    const size_t capacity = in.pick<size_t>({0, 1, 2, 20, 30, 40, 60, 100, 1024}, in.u16() % 2048);
    Block list(capacity);
    int size = ChooseLength(in, capacity), count = -7;
    const int sizeIn = size;
    // One read per statement: arguments are evaluated in no fixed order.
    char* listArg = in.oneIn(10) ? nullptr : list.data.get();
    int* sizeArg = in.oneIn(10) ? nullptr : &size;
    int* countArg = in.oneIn(10) ? nullptr : &count;
    const int r =
        DravikEnumerateDevices(path.empty() ? nullptr : path.c_str(), listArg, sizeArg, countArg);
    if (r <= 0) {  // a listing was made: what it says of the buffer must hold
        DRAVIK_FUZZ_REQUIRE(size >= 0 && count >= 0);
        if (count > 0) {
            DRAVIK_FUZZ_REQUIRE(size < sizeIn && list.data[static_cast<size_t>(size)] == '\0');
            DRAVIK_FUZZ_REQUIRE(std::strlen(list.data.get()) == static_cast<size_t>(size));
            int lines = 0;
            for (int i = 0; i < size; ++i) {
                lines += list.data[static_cast<size_t>(i)] == '\n' ? 1 : 0;
            }
            // Each line ends in a newline; a serial number may hold more of them.
            DRAVIK_FUZZ_REQUIRE(lines >= count && list.data[static_cast<size_t>(size) - 1] == '\n');
        } else {
            DRAVIK_FUZZ_REQUIRE(size == 0);
        }
    }
}

void ReadTrace(FuzzInput& in) {
    const size_t capacity =
        in.pick<size_t>({0, 1, 16, 100, 3999, 4000, 4001, 8000, 65536, 70000}, in.u16());
    Block buffer(capacity);
    const int offset =
        in.pick<int>({0, 0, -1, INT_MIN, INT_MAX, static_cast<int>(capacity),
                      static_cast<int>(capacity) + 1, static_cast<int>(capacity / 2)},
                     in.i32());
    int length = ChooseLength(in, capacity);
    const int lengthIn = length;
    char* bufferArg = in.oneIn(10) ? nullptr : buffer.data.get();
    int* lengthArg = in.oneIn(10) ? nullptr : &length;
    const int r = DravikReadSWVData(bufferArg, offset, lengthArg);
    if (r == DRAVIK_OK && length != 0) {  // never more than the room it was given
        DRAVIK_FUZZ_REQUIRE(length > 0 && static_cast<long long>(length) <=
                                              static_cast<long long>(lengthIn) - offset);
    }
    if (r == DRAVIK_REFUSED || r == DRAVIK_BAD_ARGUMENT) {
        DRAVIK_FUZZ_REQUIRE(length == lengthIn);
    }
}

void ReadMemory(FuzzInput& in) {
    const unsigned address = in.pick<unsigned>(
        {0x20000000, 0x20001FF0, 0x08000000, 0xE000EDF0, 0x20000002, 0xFFFFFFFC, 0}, in.u32());
    const unsigned short size =
        in.pick<unsigned short>({0, 4, 6, 8, 1024, 4096, 8192, 65532, 65535}, in.u16());
    Block buffer(size);
    unsigned rwStatus = 0;
    unsigned char* bufferArg =
        in.oneIn(10) ? nullptr : reinterpret_cast<unsigned char*>(buffer.data.get());
    unsigned* rwStatusArg = in.oneIn(2) ? nullptr : &rwStatus;
    const int r = DravikReadMemory(address, bufferArg, size, rwStatusArg);
    if (address % 4 != 0 || size % 4 != 0) {
        DRAVIK_FUZZ_REQUIRE(r == DRAVIK_BAD_ARGUMENT);
    }
}

int Clock(FuzzInput& in) {
    return in.pick<int>({0, 1, -1, INT_MIN, INT_MAX, 72000000, 2000000}, in.i32());
}
int Prescaler(FuzzInput& in) {
    return in.pick<int>({0, 1, -1, 36, 65536, 65537, INT_MIN, INT_MAX}, in.i32());
}

void Call(FuzzInput& in, const std::vector<std::string>& serials) {
    int status = -7, fifo = -7;
    int* statusArg = in.oneIn(10) ? nullptr : &status;
    switch (in.u8() % 14) {
        case 0:
            CopyOut(in, true);
            break;
        case 1:
            CopyOut(in, false);
            break;
        case 2:
            Enumerate(in);
            break;
        case 3: {
            const std::string serial = Serial(in, serials);
            const unsigned flags = in.pick<unsigned>({0, 1, 2, 4, 5, 7}, in.u32());
            DravikSelectDevice(in.oneIn(10) ? nullptr : serial.c_str(), flags, statusArg);
            break;
        }
        case 4:
            DravikGetDeviceStatus(statusArg);
            break;
        case 5:
            DravikRunDevice(statusArg);
            break;
        case 6: {
            const std::string serial = Serial(in, serials);
            DravikBlinkDebugger(in.oneIn(10) ? nullptr : serial.c_str());
            break;
        }
        case 7: {
            const bool hadObject = g_dev != nullptr;
            DRAVIK_FUZZ_REQUIRE(DravikCloseDevice() == (hadObject ? DRAVIK_OK : DRAVIK_IGNORED));
            DRAVIK_FUZZ_REQUIRE(g_dev == nullptr && g_currentDevice == nullptr);
            break;
        }
        case 8: {
            const int clock = Clock(in), prescaler = Prescaler(in), ports = in.i32();
            const int txModes = in.pick<int>({1, 2, 3, 0}, in.i32());
            int* fifoArg = in.oneIn(10) ? nullptr : &fifo;
            DravikSetupDevice(clock, prescaler, ports, txModes, fifoArg);
            break;
        }
        case 9: {
            const int clock = Clock(in), prescaler = Prescaler(in);
            const int r = DravikStartSWVRead(clock, prescaler);
            if (prescaler == 0) {
                DRAVIK_FUZZ_REQUIRE(r == DRAVIK_BAD_ARGUMENT || r == DRAVIK_NO_DEVICE_OBJECT);
            }
            break;
        }
        case 10:
            DravikStopSWVRead();
            break;
        case 11:
            ReadTrace(in);
            break;
        case 12:
            ReadMemory(in);
            break;
        default:
            GetDbgDev();  // the object made ahead of a call, with the diagnostics measured
            AttachSink();
            break;
    }
    CheckTexts();
}

}  // namespace

int FuzzExportedCalls(const uint8_t* data, size_t size) {
    // A reset or halt wait that never sees its state ends after 40 polls, not 2 s.
    test::SetWallClockStepping(true, 50);
    FuzzInput in(data, size);
    sim::Bench& b = sim::bench();
    b.clear();
    test::ReleaseTraceBlocks();
    b.clock.setManual(true);
    b.setLogEnabled(false);
    std::vector<std::string> serials;
    const int probes = 1 + in.u8() % 3;
    for (int i = 0; i < probes; ++i) {
        const sim::ProbeConfig config = Probe(in, i);
        serials.push_back(config.serial);
        test::EnsureTraceBlocks(b.probe(b.addProbe(config)));
    }
    for (int step = 0; step < 64 && in.more(); ++step) {
        if (in.flag()) {
            ChangeTheBench(in, b);
        } else {
            AttachSink();
            Call(in, serials);
        }
    }
    DravikCloseDevice();
    DRAVIK_FUZZ_REQUIRE(g_dev == nullptr && g_currentDevice == nullptr);
    b.clear();
    test::ReleaseTraceBlocks();
    return 0;
}

}  // namespace dravik::fuzz
