// Parsing of the values on the command line. Each returns false with a message for the user.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dravik/swv/Options.h"

namespace dravik::swv {

// Decimal, or hex with 0x. No sign, no spaces, nothing after the digits; at most `max`.
bool parseNumber(const std::string& text, uint64_t max, uint64_t& value, std::string& error);
// "N=FORMAT", N a port 0..255, FORMAT a format's name or a pattern (it holds a '%').
bool parsePortOption(const std::string& text, PortRoute& route, std::string& error);
// "N=PATH".
bool parsePortFileOption(const std::string& text, PortFileOption& option, std::string& error);
// "8000000,12000000": clock frequencies in Hz, comma-separated, each 1..INT_MAX.
bool parseClockList(const std::string& text, std::vector<uint32_t>& clocks, std::string& error);
// Seconds, more than 0.
bool parseDuration(const std::string& text, double& seconds, std::string& error);

}  // namespace dravik::swv
