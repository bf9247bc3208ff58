#include "dravik/profile/ExceptionTracker.h"

namespace dravik::profile {

std::string exceptionName(unsigned number) {
    static const char* const kSystem[kFirstExternalInterrupt] = {
        "Thread",       "Reset", "NMI",    "HardFault", "MemManage", "BusFault",
        "UsageFault",   nullptr, nullptr,  nullptr,     nullptr,     "SVCall",
        "DebugMonitor", nullptr, "PendSV", "SysTick",
    };
    if (number >= kFirstExternalInterrupt) {
        return "IRQ" + std::to_string(number - kFirstExternalInterrupt);
    }
    if (kSystem[number] == nullptr) {
        return "Reserved" + std::to_string(number);
    }
    return kSystem[number];
}

size_t ExceptionTracker::find(unsigned number) const {
    for (size_t i = frames_.size(); i-- > 0;) {
        if (frames_[i].number == number) {
            return i;
        }
    }
    return frames_.size();
}

void ExceptionTracker::abandonAbove(size_t keep, std::optional<uint64_t> ticks,
                                    std::vector<ExceptionEvent>& out) {
    while (frames_.size() > keep) {
        const Frame& f = frames_.back();
        out.push_back({ExceptionEvent::Kind::Abandoned, f.number, f.entryTicks, ticks});
        frames_.pop_back();
    }
}

void ExceptionTracker::abandonAll(std::optional<uint64_t> ticks, std::vector<ExceptionEvent>& out) {
    abandonAbove(0, ticks, out);
}

void ExceptionTracker::add(const itm::Packet& packet, std::optional<uint64_t> ticks,
                           std::vector<ExceptionEvent>& out) {
    if (packet.kind != itm::PacketKind::ExceptionTrace) {
        return;
    }
    const auto number = static_cast<unsigned>(packet.value % kExceptionCount);
    switch (packet.function) {
        case itm::ExceptionFunction::Entered: {
            if (number == 0) {
                return;  // thread mode is not entered as an exception
            }
            const size_t existing = find(number);
            if (existing != frames_.size()) {
                abandonAbove(existing, ticks, out);
            }
            if (frames_.size() == kMaxDepth) {
                const Frame oldest = frames_.front();
                out.push_back(
                    {ExceptionEvent::Kind::Abandoned, oldest.number, oldest.entryTicks, ticks});
                frames_.erase(frames_.begin());
            }
            frames_.push_back({number, ticks});
            out.push_back({ExceptionEvent::Kind::Entered, number, std::nullopt, ticks});
            return;
        }
        case itm::ExceptionFunction::Exited: {
            const size_t at = find(number);
            if (at == frames_.size()) {
                return;  // entered before the capture began
            }
            abandonAbove(at + 1, ticks, out);
            out.push_back(
                {ExceptionEvent::Kind::Completed, number, frames_.back().entryTicks, ticks});
            frames_.pop_back();
            return;
        }
        case itm::ExceptionFunction::Returned: {
            if (number == 0) {
                abandonAll(ticks, out);
                return;
            }
            const size_t at = find(number);
            if (at != frames_.size()) {
                abandonAbove(at + 1, ticks, out);
            }
            return;
        }
        case itm::ExceptionFunction::None:
            return;
    }
}

}  // namespace dravik::profile
