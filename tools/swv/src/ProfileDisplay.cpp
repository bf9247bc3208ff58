#include "dravik/swv/ProfileDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dravik::swv {

namespace {

// The alternate screen, as full-screen programs use, with the cursor hidden: the terminal's own
// contents come back when it is given back.
constexpr const char* kTakeScreen = "\x1b[?1049h\x1b[?25l";
constexpr const char* kGiveScreenBack = "\x1b[?25h\x1b[?1049l";

bool hasContent(const profile::ProfileReport& r) {
    return r.samples != 0 || !r.exceptions.empty() || r.overflows != 0 || r.gaps != 0;
}

}  // namespace

ProfileDisplay::ProfileDisplay(const profile::SymbolTable& symbols, ProfileDisplayConfig config,
                               std::ostream& out)
    : symbols_(symbols),
      config_(std::move(config)),
      out_(out),
      feed_([this](const TimedPacket& timed) {
          if (profiler_) {
              profiler_->add(timed.packet, timed.ticks);
          }
      }),
      intervalUs_(static_cast<uint64_t>(std::llround(config_.intervalSeconds * 1e6))) {
    if (intervalUs_ == 0) {
        intervalUs_ = 1;
    }
}

ProfileDisplay::~ProfileDisplay() {
    giveScreenBack();
}

bool ProfileDisplay::write(const std::string& text) {
    if (failed_) {
        return false;
    }
    out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    out_.flush();
    failed_ = !out_;
    return !failed_;
}

void ProfileDisplay::takeScreen() {
    if (screen_) {
        return;
    }
    if (config_.screenTaken) {
        config_.screenTaken(true);
    }
    screen_ = true;
    if (config_.screenActive != nullptr) {
        config_.screenActive->store(true);
    }
    char waiting[96];
    std::snprintf(waiting, sizeof waiting, "profiling: the first report comes after %.3g s",
                  config_.intervalSeconds);
    write(std::string(kTakeScreen) + "\x1b[H" + waiting + "\x1b[K\n\x1b[J");
}

void ProfileDisplay::giveScreenBack() {
    if (!screen_) {
        return;
    }
    write(kGiveScreenBack);
    screen_ = false;
    if (config_.screenActive != nullptr) {
        config_.screenActive->store(false);
    }
    if (config_.screenTaken) {
        config_.screenTaken(false);
    }
}

void ProfileDisplay::start(double timestampHz) {
    profile::ProfilerOptions options;
    options.lines = config_.lines;
    options.timestampHz = timestampHz;
    profiler_ = std::make_unique<profile::Profiler>(symbols_, options);
    lastUs_ = 0;
    if (config_.output == ProfileOutput::Screen) {
        takeScreen();
    }
}

void ProfileDisplay::data(const uint8_t* bytes, size_t size, uint64_t hostUs) {
    feed_.data(bytes, size, hostUs);
}

void ProfileDisplay::gap(GapCause, uint64_t) {
    feed_.cut();
    if (profiler_) {
        profiler_->noteGap();
    }
}

bool ProfileDisplay::show(const profile::ProfileReport& report) {
    ++shown_;
    switch (config_.output) {
        case ProfileOutput::Screen: {
            profile::ScreenSize size;
            unsigned columns = 0;
            unsigned rows = 0;
            if (config_.terminalSize && config_.terminalSize(columns, rows) && columns > 0 &&
                rows > 0) {
                size = {columns, rows};
            }
            return write(profile::renderScreen(report, size));
        }
        case ProfileOutput::Tables:
            return write(profile::renderTable(report));
        case ProfileOutput::Json:
            return write(profile::renderJson(report));
    }
    return false;
}

bool ProfileDisplay::tick(uint64_t hostUs) {
    if (!profiler_ || finished_ || hostUs < lastUs_ + intervalUs_) {
        return !failed_;
    }
    // An interval lasts until the first tick after its end: the report says how long that was.
    const double seconds = static_cast<double>(hostUs - lastUs_) / 1e6;
    lastUs_ = hostUs;
    return show(profiler_->takeInterval(seconds));
}

bool ProfileDisplay::finish(uint64_t hostUs) {
    if (!profiler_ || finished_) {
        giveScreenBack();
        return !failed_;
    }
    finished_ = true;
    feed_.cut();
    const double seconds = static_cast<double>(std::max(lastUs_, hostUs) - lastUs_) / 1e6;
    const profile::ProfileReport last = profiler_->takeInterval(seconds);
    if (config_.output == ProfileOutput::Screen) {
        giveScreenBack();
    } else if (shown_ == 0 || hasContent(last)) {
        show(last);
    }
    const profile::ProfileReport run = profiler_->total();
    return write(config_.output == ProfileOutput::Json ? profile::renderJson(run)
                                                       : profile::renderTable(run));
}

}  // namespace dravik::swv
