// What `top` shows: the profile of the stream it is fed, one report per interval of host time, as
// a screen redrawn in place, a table per interval or a JSON object per interval, and at the end
// the report of the whole run. It serves a live capture (as its observer) and the replay of a
// recording alike.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "dravik/profile/ProfileRender.h"
#include "dravik/profile/Profiler.h"
#include "dravik/profile/SymbolTable.h"
#include "dravik/swv/CaptureObserver.h"
#include "dravik/swv/TimedPacketFeed.h"

namespace dravik::swv {

enum class ProfileOutput : uint8_t {
    Screen,  // a terminal: the latest interval redrawn in place on the alternate screen
    Tables,  // a table per interval, plain text
    Json,    // one JSON object per interval
};

struct ProfileDisplayConfig {
    ProfileOutput output = ProfileOutput::Tables;
    double intervalSeconds = 1.0;
    bool lines = false;  // samples by source line too
    // Screen: the terminal's size (80x24 when null or false), and whether it is taken.
    std::function<bool(unsigned& columns, unsigned& rows)> terminalSize;
    std::atomic<bool>* screenActive = nullptr;
    // Screen: told when the screen is taken (true) and given back (false), so that messages
    // for the same terminal can wait meanwhile.
    std::function<void(bool)> screenTaken;
};

class ProfileDisplay final : public CaptureObserver {
  public:
    // `symbols` must outlive the display.
    ProfileDisplay(const profile::SymbolTable& symbols, ProfileDisplayConfig config,
                   std::ostream& out);
    // Gives the screen back if it is still taken.
    ~ProfileDisplay() override;
    ProfileDisplay(const ProfileDisplay&) = delete;
    ProfileDisplay& operator=(const ProfileDisplay&) = delete;

    void start(double timestampHz) override;
    void data(const uint8_t* bytes, size_t size, uint64_t hostUs) override;
    void gap(GapCause cause, uint64_t hostUs) override;
    bool tick(uint64_t hostUs) override;
    // The last interval (ending at hostUs), if it holds anything or is the only one, then the
    // whole run.
    bool finish(uint64_t hostUs) override;

    // Whether every report was written out.
    bool failed() const { return failed_; }
    // Bytes that formed no packet, as the decoder counted them.
    uint64_t undecodableBytes() const { return feed_.stats().discardedBytes; }

  private:
    bool write(const std::string& text);
    bool show(const profile::ProfileReport& report);
    void takeScreen();
    void giveScreenBack();

    const profile::SymbolTable& symbols_;
    ProfileDisplayConfig config_;
    std::ostream& out_;
    std::unique_ptr<profile::Profiler> profiler_;
    TimedPacketFeed feed_;
    uint64_t intervalUs_;
    uint64_t lastUs_ = 0;  // the end of the last interval
    uint64_t shown_ = 0;   // interval reports written
    bool screen_ = false;
    bool failed_ = false;
    bool finished_ = false;
};

}  // namespace dravik::swv
