// The one line that tells the user what to try after a failed call, from what the tool knows about
// it. Pure, so each hint is checked on its own; ProbeSession gathers the facts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dravik/swv/CallReport.h"
#include "dravik/swv/ProbeListing.h"

namespace dravik::swv {

// Whether the hint for this failed DravikSelectDevice names the probes that are connected.
bool selectionHintListsProbes(const CallFailure& failure);

// After DravikSelectDevice failed for `serial`. `connected`: the probes listed after the failure;
// null when they were not listed (or the listing failed). Empty when there is nothing to add.
std::string selectionHint(const CallFailure& failure, const std::string& serial,
                          const std::vector<ProbeEntry>* connected);

// After DravikSetupDevice found no transmit mode: what this TPIU offers (TPIU_TYPE as read back,
// nullopt when the read failed) and the --mode that selects it.
std::string transmitModeHint(std::optional<uint32_t> tpiuType);

// Whether this failed DravikSetupDevice is the one transmitModeHint explains.
bool isNoTransmitMode(const CallFailure& failure);

}  // namespace dravik::swv
