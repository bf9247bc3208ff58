#include "dravik/swv/EventRows.h"

#include <cstdio>

#include "dravik/profile/ExceptionTracker.h"
#include "dravik/swv/Colour.h"

namespace dravik::swv {

namespace {

std::string wrappedCounters(uint64_t bits) {
    static constexpr struct {
        uint32_t bit;
        const char* name;
    } kCounters[] = {{itm::EventCounterBit::kCpi, "CPI"},     {itm::EventCounterBit::kExc, "EXC"},
                     {itm::EventCounterBit::kSleep, "SLEEP"}, {itm::EventCounterBit::kLsu, "LSU"},
                     {itm::EventCounterBit::kFold, "FOLD"},   {itm::EventCounterBit::kCyc, "CYC"}};
    std::string names;
    unsigned count = 0;
    for (const auto& counter : kCounters) {
        if ((bits & counter.bit) != 0) {
            names += (count++ == 0 ? "" : ", ") + std::string(counter.name);
        }
    }
    if (count == 0) {
        return "no counter wrapped";
    }
    return names + (count == 1 ? " counter wrapped" : " counters wrapped");
}

std::string exceptionText(const itm::Packet& packet) {
    const std::string name = profile::exceptionName(static_cast<unsigned>(packet.value));
    switch (packet.function) {
        case itm::ExceptionFunction::Entered:
            return "entered " + name;
        case itm::ExceptionFunction::Exited:
            return "exited " + name;
        case itm::ExceptionFunction::Returned:
            return "returned to " + name;
        case itm::ExceptionFunction::None:
            break;
    }
    return "exception " + name;
}

}  // namespace

bool eventRow(const itm::Packet& packet, const EventOptions& options, RowLabel& label,
              std::string& body) {
    if (!options.shown) {
        return false;
    }
    switch (packet.kind) {
        case itm::PacketKind::ExceptionTrace:
            label = RowLabel{"[exception]", sgr::kMagenta};
            body = exceptionText(packet);
            return true;
        case itm::PacketKind::EventCounter:
            label = RowLabel{"[event]", sgr::kBlue};
            body = wrappedCounters(packet.value);
            return true;
        case itm::PacketKind::Overflow:
            label = RowLabel{"[overflow]", sgr::kRed};
            body = "the ITM or DWT dropped packets";
            return true;
        case itm::PacketKind::PeriodicPc:
        case itm::PacketKind::PeriodicPcSleep: {
            if (!options.pcSamples) {
                return false;
            }
            label = RowLabel{"[pc]", sgr::kDim};
            char pc[16];
            std::snprintf(pc, sizeof pc, "0x%08llx", static_cast<unsigned long long>(packet.value));
            body = packet.kind == itm::PacketKind::PeriodicPc ? pc : "sleeping";
            return true;
        }
        default:
            return false;
    }
}

}  // namespace dravik::swv
