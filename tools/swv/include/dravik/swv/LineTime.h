// The time column of text output: which clock a line shows and how.
//
//     --time target    the target's time, from its timestamps     [t 1.234567] [0] line 12
//     --time host      when the bytes reached the host            [h 0.501234] [0] line 12
//     --time both      both                                       [t 1.234567 h 0.501234] ...
//     --time none      no time column
//
//     --time-format relative  seconds since the first timestamp (target) or since the capture
//                             started (host); the default
//     --time-format absolute  the target's own count (its global timestamps, else the sum of the
//                             local ones) and the host's time of day, 14:03:07.123456
//     --time-format delta     seconds since the line before, +0.000120
//
// A line carries the time of its first character. With `target`, a line from a port without
// timestamps (or before the first one) shows the host time, marked "h", rather than none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dravik::swv {

enum class TimeSource : uint8_t { None, Target, Host, Both };
enum class TimeFormat : uint8_t { Relative, Absolute, Delta };

const char* timeSourceName(TimeSource source) noexcept;
// "none", "target", "host" or "both".
bool parseTimeSource(std::string_view name, TimeSource& source) noexcept;
const char* timeFormatName(TimeFormat format) noexcept;
// "relative", "absolute" or "delta".
bool parseTimeFormat(std::string_view name, TimeFormat& format) noexcept;

// When a line's first character was written (target) and received (host).
struct LineStamp {
    std::optional<double> target;    // seconds of target time
    std::optional<uint64_t> hostUs;  // since the capture started
};

struct TimeColumnConfig {
    TimeSource source = TimeSource::None;
    TimeFormat format = TimeFormat::Relative;
    // Wall clock at the capture's start, microseconds since the Unix epoch; nullopt when not
    // known (a plain dump): absolute host times are then relative ones.
    std::optional<int64_t> hostStartWallUs;
};

class TimeColumn {
  public:
    explicit TimeColumn(const TimeColumnConfig& config) : config_(config) {}

    bool shown() const { return config_.source != TimeSource::None; }
    bool showsTarget() const {
        return config_.source == TimeSource::Target || config_.source == TimeSource::Both;
    }
    // The first target time of the stream: where relative target times count from.
    void noteTarget(double seconds) {
        if (!origin_) {
            origin_ = seconds;
        }
    }
    // Appends the column and a space ("[t 1.234567] "), nothing when no time is shown; delta
    // times count from the line before.
    void append(const LineStamp& stamp, std::string& out);

  private:
    void appendTarget(double seconds, std::string& out) const;
    void appendHost(uint64_t us, std::string& out) const;

    TimeColumnConfig config_;
    std::optional<double> origin_;
    std::optional<double> previousTarget_;
    std::optional<uint64_t> previousHostUs_;
};

}  // namespace dravik::swv
