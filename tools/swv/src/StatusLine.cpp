#include "dravik/swv/StatusLine.h"

namespace dravik::swv {

std::string StatusLine::fit(const std::string& text, unsigned columns) {
    const size_t room = columns > 1 ? columns - 1 : 1;
    return text.size() <= room ? text : text.substr(0, room);
}

unsigned StatusLine::columns() {
    const int resizes = env_.resizes != nullptr ? env_.resizes->load() : 0;
    if (resizes != resizesSeen_) {
        resizesSeen_ = resizes;
        columns_ = env_.terminalColumns ? env_.terminalColumns() : 0;
    }
    return columns_ != 0 ? columns_ : kDefaultColumns;
}

bool StatusLine::draw(const std::string& text, uint64_t nowUs) {
    if (!live_) {
        return false;
    }
    const std::string line = fit(text, columns());
    if (shown_ && line == text_) {
        return false;
    }
    text_ = line;
    shown_ = true;
    drawn_ = true;
    lastDrawUs_ = nowUs;
    env_.message("\r\033[K" + line);
    return true;
}

void StatusLine::erase() {
    if (live_ && shown_) {
        env_.message("\r\033[K");
        shown_ = false;
    }
}

}  // namespace dravik::swv
