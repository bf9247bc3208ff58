// Receives what the library delivered as the draining thread gets it: every byte, in order, and
// every loss the library reported, before the display queue. What the display cannot keep up with
// it drops; a sink sees everything, so a recording (or anything else that must be complete) is
// one of these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dravik/swv/Recording.h"

namespace dravik::swv {

class DrainSink {
  public:
    virtual ~DrainSink() = default;

    // Called on the draining thread only, between two polls: a sink that takes long delays the
    // next poll, and the probe's buffer fills meanwhile (a SinkThread takes the work elsewhere).
    // timeUs: host time of the read.
    virtual void data(uint64_t timeUs, const uint8_t* bytes, size_t size) = 0;
    // The library discarded pending bytes (403) or a read failed: trace is missing here.
    virtual void gap(uint64_t timeUs, GapCause cause) = 0;
};

}  // namespace dravik::swv
