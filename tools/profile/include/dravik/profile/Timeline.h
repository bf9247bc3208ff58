// An exception timeline in the Trace Event Format, the JSON that the Perfetto UI and
// chrome://tracing open: one track per exception with each entry-to-exit as a duration ("B" and
// "E" events, always paired), the instrumentation text lines as instant events on a track per
// stimulus port, and optionally the PC samples as a counter track.
//
// Written as it goes (the JSON array form, which those viewers also read without its closing
// bracket, so a capture cut short still opens):
//
//     dravik::profile::TimelineOptions options;
//     options.timestampHz = 72e6;
//     dravik::profile::TimelineWriter timeline(options);
//     for each timed packet: timeline.add(packet, ticks);  write(timeline.take());
//     for each text line:    timeline.addTextLine(port, text, ticksOfItsLastPacket);
//     at the end:            write(timeline.finish());
//
// Events need the target time (local timestamps on): those without are left out and counted.
// Times are the timestamp ticks over the clock, in microseconds from the first event; a track's
// times never go back.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dravik/itm/Packet.h"
#include "dravik/profile/ExceptionTracker.h"

namespace dravik::profile {

struct TimelineOptions {
    double timestampHz = 0;  // 0: not known; a tick is then shown as a microsecond
    bool pcCounter = false;  // the PC samples as a counter track ("PC"; 0 while asleep)
};

class TimelineWriter {
  public:
    explicit TimelineWriter(TimelineOptions options);

    // Exception traces, PC samples (with pcCounter) and overflows; other kinds are ignored.
    void add(const itm::Packet& packet, std::optional<uint64_t> ticks);
    void addTextLine(unsigned port, std::string_view text, std::optional<uint64_t> ticks);
    // Trace was lost here: open exceptions end at the last time seen.
    void noteGap();

    // The text written since the last take (starting with the opening bracket).
    std::string take();
    // Ends every open exception at the last time seen and closes the array; returns the rest.
    std::string finish();

    // Events left out for want of a time.
    uint64_t untimedEvents() const { return untimed_; }

  private:
    // Trace Event thread ids: exception n on track n, stimulus port p on kPortTrackBase + p.
    static constexpr unsigned kPortTrackBase = 1000;

    // Writes the durations the tracker's events begin and end; `atEnd`: the stream ended, so the
    // frames given up were still running rather than lost.
    void handle(const std::vector<ExceptionEvent>& events, bool atEnd = false);
    // Appends one event; `ticks` is clamped so that the track's times never go back.
    void event(unsigned track, char phase, std::string_view name, uint64_t ticks,
               const std::string& args);
    void nameTrack(unsigned track, const std::string& name);
    std::string time(uint64_t ticks) const;

    TimelineOptions options_;
    ExceptionTracker tracker_;
    std::vector<ExceptionEvent> events_;
    std::map<unsigned, uint64_t> lastTicks_;  // by track: the time of its last event
    std::optional<uint64_t> origin_;          // ticks of the first event
    std::optional<uint64_t> latest_;          // ticks of the latest event seen
    uint64_t untimed_ = 0;
    std::string out_;
    bool finished_ = false;
};

}  // namespace dravik::profile
