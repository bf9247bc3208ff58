// What --events shows between the ports' text, in stream order: exception entry, exit and
// return, DWT event counter wraps, overflows, and with --events=pc the periodic PC samples.
//
//     [exception] entered SysTick
//     [exception] exited SysTick
//     [exception] returned to Thread
//     [event] CPI, LSU counters wrapped
//     [pc] 0x08000134
//     [pc] sleeping
//     [overflow] the ITM or DWT dropped packets
#pragma once

#include <string>

#include "dravik/itm/Packet.h"
#include "dravik/swv/TextDisplay.h"

namespace dravik::swv {

struct EventOptions {
    bool shown = false;      // --events
    bool pcSamples = false;  // --events=pc
};

// The row `packet` makes as an event: false when it is not one that `options` show.
bool eventRow(const itm::Packet& packet, const EventOptions& options, RowLabel& label,
              std::string& body);

}  // namespace dravik::swv
