#include "dravik/swv/PollInterval.h"

#include <algorithm>

namespace dravik::swv {

PollInterval::PollInterval(uint32_t bufferBytes, double lineBytesPerSecond)
    : bufferBytes_(bufferBytes == 0 ? 1 : bufferBytes),
      lineBytesPerSecond_(lineBytesPerSecond > 0 ? lineBytesPerSecond : 0) {
    // Never sleep longer than it takes the line, at full speed, to fill a quarter of the buffer.
    double ceiling = static_cast<double>(kMaxCeilingUs);
    if (lineBytesPerSecond > 0) {
        ceiling = std::min(ceiling, bufferBytes_ / 4.0 / lineBytesPerSecond * 1e6);
    }
    ceilingUs_ = std::max<uint64_t>(kMinCeilingUs, static_cast<uint64_t>(ceiling));
}

uint64_t PollInterval::next(uint64_t bytes, uint64_t elapsedUs) {
    if (bytes == 0) {
        currentUs_ = std::min(ceilingUs_, std::max(kMinPauseUs, currentUs_ * 2));
        return currentUs_;
    }
    if (bytes >= bufferBytes_ / 2 || elapsedUs == 0) {
        currentUs_ = 0;  // falling behind, or no measure of the rate: poll again at once
        return currentUs_;
    }
    // Aim for the next poll to find a quarter of the buffer at the rate just seen.
    const double rate = static_cast<double>(bytes) / static_cast<double>(elapsedUs);
    const double aim = bufferBytes_ / 4.0 / rate;
    currentUs_ = std::min<uint64_t>(ceilingUs_, static_cast<uint64_t>(aim));
    return currentUs_;
}

}  // namespace dravik::swv
