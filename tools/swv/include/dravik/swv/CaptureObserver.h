// A consumer of a live capture's stream beside its display, run on the capture's decoding thread:
// `top` turns it into its profile. It sees the bytes and the losses in stream order, as the
// display does, and is given the time now and then to redraw.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dravik/swv/Recording.h"

namespace dravik::swv {

class CaptureObserver {
  public:
    virtual ~CaptureObserver() = default;

    // The trace is set up and about to flow; timestampHz: the local timestamp clock, 0 when
    // timestamps are off. Host times below count from here, in microseconds.
    virtual void start(double timestampHz) = 0;
    virtual void data(const uint8_t* bytes, size_t size, uint64_t hostUs) = 0;
    // Trace is missing here.
    virtual void gap(GapCause cause, uint64_t hostUs) = 0;
    // Called after every chunk and while the line is idle (a few times a second at least).
    // False when its output failed; the capture then ends.
    virtual bool tick(uint64_t hostUs) = 0;
    // The stream ended; hostUs: when the capture was told to stop (the receiver takes a moment
    // to stop, in which no trace comes), or when it ended by itself. False when its output
    // failed.
    virtual bool finish(uint64_t hostUs) = 0;
};

}  // namespace dravik::swv
