// Pairs the DWT's exception entry and exit packets, through nesting, tail-chaining and loss.
//
// The DWT sends Entered n when the core takes exception n, Exited n when the handler returns,
// and Returned m when execution goes back to m (0 is thread mode). A preempted handler looks
// like "Entered 16, Entered 17, Exited 17, Returned 16, Exited 16, Returned 0"; tail-chaining
// leaves out the Returned between two handlers. The tracker keeps a stack of the handlers
// entered and not yet exited:
//  - an exit pairs with the innermost entry of its number; handlers above it on the stack lost
//    their exits (packets dropped) and are given up;
//  - a Returned to m gives up the handlers above m (all of them for thread mode): the core is
//    back in m, so none of them is still running;
//  - an exit whose entry was never seen (the capture started inside the handler) pairs with
//    nothing; an entry of a number already on the stack gives up the older frame and those
//    above it, since a handler cannot preempt itself;
//  - an overflow or a gap loses packets, so the caller gives up every frame (abandonAll).
// The time from entry to exit includes the time spent in handlers that preempted it: it is how
// long the exception took to be served, as seen from outside.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dravik/itm/Packet.h"

namespace dravik::profile {

// The Armv7-M exception numbers: 1 Reset ... 15 SysTick, 16 + n for external interrupt n.
inline constexpr unsigned kExceptionCount = 512;
inline constexpr unsigned kFirstExternalInterrupt = 16;

// "Reset", "NMI", "HardFault", "MemManage", "BusFault", "UsageFault", "SVCall",
// "DebugMonitor", "PendSV", "SysTick", "IRQ0" for 16 and so on, "Thread" for 0 and "Reserved7"
// for the numbers the architecture leaves unused.
std::string exceptionName(unsigned number);

struct ExceptionEvent {
    enum class Kind : uint8_t {
        Entered,    // the handler started
        Completed,  // its exit, paired with its entry
        Abandoned,  // its exit was lost: the frame was given up (see above)
    };
    Kind kind = Kind::Entered;
    unsigned number = 0;
    std::optional<uint64_t> entryTicks;  // Completed, Abandoned: when it was entered
    std::optional<uint64_t> ticks;       // when this happened (for Abandoned: when it was seen)

    // Entry to exit in timestamp ticks, when a completed pair has both times.
    std::optional<uint64_t> durationTicks() const {
        if (kind != Kind::Completed || !entryTicks || !ticks || *ticks < *entryTicks) {
            return std::nullopt;
        }
        return *ticks - *entryTicks;
    }
};

class ExceptionTracker {
  public:
    // Deeper nesting than priority levels allow is damage; the oldest frame is given up.
    static constexpr size_t kMaxDepth = 64;

    // Takes one packet (anything but an exception trace is ignored) with its target time, if
    // known, and appends what it means to `out`.
    void add(const itm::Packet& packet, std::optional<uint64_t> ticks,
             std::vector<ExceptionEvent>& out);
    // Gives up every open frame (overflow, gap, end of the stream).
    void abandonAll(std::optional<uint64_t> ticks, std::vector<ExceptionEvent>& out);

    size_t depth() const { return frames_.size(); }

  private:
    struct Frame {
        unsigned number;
        std::optional<uint64_t> entryTicks;
    };
    // Gives up frames from the top down to (not including) index `keep`.
    void abandonAbove(size_t keep, std::optional<uint64_t> ticks, std::vector<ExceptionEvent>& out);
    // Index of the innermost frame of this number, or frames_.size().
    size_t find(unsigned number) const;

    std::vector<Frame> frames_;
};

}  // namespace dravik::profile
