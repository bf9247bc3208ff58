// One packet as text, every field: for test failures and fuzz reports.
#pragma once

#include <sstream>
#include <string>

#include "dravik/itm/Packet.h"

namespace dravik::itm::test {

inline std::string packetText(const Packet& p) {
    std::ostringstream os;
    os << "{" << packetKindName(p.kind) << " size=" << unsigned(p.size) << " value=0x" << std::hex
       << p.value << std::dec << " port=" << unsigned(p.port)
       << " disc=" << unsigned(p.discriminator) << " cmp=" << unsigned(p.comparator)
       << " rel=" << timestampRelationName(p.relation)
       << " fn=" << exceptionFunctionName(p.function) << " flags=" << unsigned(p.flags) << "}";
    return os.str();
}

}  // namespace dravik::itm::test
