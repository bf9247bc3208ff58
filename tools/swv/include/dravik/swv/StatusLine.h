// The live status line of a capture on a terminal's stderr: one row, cut to the terminal's
// width (asked again after each SIGWINCH), drawn in place at most every kFramePeriodUs and only
// when its text changed or it was taken away for other output. Off a terminal it writes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "dravik/swv/Commands.h"

namespace dravik::swv {

class StatusLine {
  public:
    static constexpr uint64_t kFramePeriodUs = 100000;  // at most 10 draws a second
    static constexpr unsigned kDefaultColumns = 80;

    StatusLine(ToolEnvironment& env, bool live) : env_(env), live_(live) {}

    bool live() const { return live_; }
    bool shown() const { return shown_; }
    // Whether a draw at `nowUs` keeps to the rate.
    bool frameDue(uint64_t nowUs) const {
        return live_ && (!drawn_ || nowUs >= lastDrawUs_ + kFramePeriodUs);
    }
    // Draws `text` cut to the width unless the same is already shown; true when it drew.
    bool draw(const std::string& text, uint64_t nowUs);
    // Takes the line away, before other output reaches the same terminal.
    void erase();
    // `text` as it fits a terminal of `columns`: the last column is left free, since writing
    // into it makes some terminals wrap.
    static std::string fit(const std::string& text, unsigned columns);

  private:
    unsigned columns();

    ToolEnvironment& env_;
    bool live_;
    bool shown_ = false;
    bool drawn_ = false;
    uint64_t lastDrawUs_ = 0;
    std::string text_;  // as last drawn
    unsigned columns_ = 0;
    int resizesSeen_ = -1;
};

}  // namespace dravik::swv
