// A whole trace capture through the exported functions, as a host makes it: listing, selection,
// setup, run, 50 polls with trace pending, a 4 KiB memory read, stop and close. Every call is made
// whatever the earlier ones returned, and each is recorded with the bench exchanges it used and the
// texts it left, so that a test can find the call that met an injected fault.
//
// The trace is fed straight into the probe's receiver before each poll, and the receiver's own
// counters tell which of the fed bytes it kept and how many it handed out: that is the account the
// delivered bytes are checked against.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace dravik::test {

struct CallRecord {
    std::string function;  // the exported name
    int result = 0;
    // The bench exchanges this call made: numbers firstExchange + 1 .. lastExchange.
    uint64_t firstExchange = 0;
    uint64_t lastExchange = 0;
    std::string step, error, warning;

    bool made(uint64_t exchange) const {
        return exchange > firstExchange && exchange <= lastExchange;
    }
};

// One DravikReadSWVData call and what the receiver did meanwhile.
struct PollRecord {
    size_t call = 0;  // index into CaptureRun::calls()
    int result = 0;
    int length = 0;                  // *length after the call
    std::vector<uint8_t> delivered;  // the bytes the call reported as delivered (result 0)
    uint64_t taken = 0;              // bytes the receiver handed out during the call
};

class CaptureRun {
  public:
    static constexpr int kPolls = 50;
    static constexpr unsigned kMemoryAddress = 0x20000000;
    static constexpr unsigned kMemoryBytes = 4096;
    static constexpr int kHostCapacity = 8192;

    explicit CaptureRun(std::string serial) : serial_(std::move(serial)) {}

    void run();

    const std::string& serial() const { return serial_; }
    const std::vector<CallRecord>& calls() const { return calls_; }
    const std::vector<PollRecord>& polls() const { return polls_; }
    // The call that made bench exchange `exchange`, or null.
    const CallRecord* callMaking(uint64_t exchange) const;

    // Bytes the receiver kept, in arrival order.
    const std::vector<uint8_t>& entered() const { return entered_; }
    // Bytes still pending in the receiver after the last poll (0 when the probe is gone).
    uint64_t pendingAfterPolls() const { return pendingAfterPolls_; }
    bool probePresentAfterPolls() const { return probePresentAfterPolls_; }

    // The memory read: its result and the bytes it left in the host's buffer.
    int memoryResult() const { return memoryResult_; }
    const std::vector<uint8_t>& memory() const { return memory_; }

    // Checks the account of trace bytes. Polls whose call index is in `unchecked` may hold bytes
    // that did not come from the receiver (an answer without a status word was corrupted): their
    // content is not compared, but what the receiver handed out during them is still counted.
    // Returns what is wrong, or an empty text.
    std::string traceProblems(const std::vector<size_t>& unchecked = {}) const;

    // Every call returned 0, every fed byte was delivered once and in order, and the memory read
    // saw the target's untouched SRAM. Returns what is wrong, or an empty text.
    std::string cleanCaptureProblems() const;

  private:
    template <typename Call>
    int record(const char* function, Call&& call);
    void feed(int poll);
    void poll();
    int probeIndex() const;

    std::string serial_;
    std::vector<CallRecord> calls_;
    std::vector<PollRecord> polls_;
    std::vector<uint8_t> entered_;
    std::vector<char> host_ = std::vector<char>(kHostCapacity, 0);
    int hostUsed_ = 0;
    uint64_t pendingAfterPolls_ = 0;
    bool probePresentAfterPolls_ = false;
    int memoryResult_ = 0;
    std::vector<uint8_t> memory_;
};

// The bytes fed before poll `poll`: 1 to 64 of them, different from poll to poll.
std::vector<uint8_t> PollBytes(int poll);

// The default bench, afresh: one probe (serial kCaptureSerial) whose target has trace blocks, a
// manual clock that stands still (so the target's own firmware adds nothing to the trace), the wire
// log on or off, and the exchange count back at 0.
constexpr const char* kCaptureSerial = "DRAVIK-BENCH-0001";
void FreshCaptureBench(bool wireLog);
// Plugs the default probe in again when it was unplugged; returns whether it had to.
bool PlugCaptureProbeInAgain();

}  // namespace dravik::test
