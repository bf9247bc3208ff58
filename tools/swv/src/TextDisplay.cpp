#include "dravik/swv/TextDisplay.h"

#include "dravik/swv/Colour.h"

namespace dravik::swv {

void TextDisplay::appendHead(const RowLabel& label, const LineStamp& stamp) {
    if (time_.shown()) {
        std::string column;
        time_.append(stamp, column);
        appendColored(column, color_ ? sgr::kDim : nullptr, pending_);
    }
    if (!label.text.empty()) {
        appendColored(label.text, color_ ? label.color : nullptr, pending_);
        pending_ += ' ';
    }
}

void TextDisplay::closeOpenRow() {
    if (open_ >= 0) {
        pending_ += '\n';
        open_ = -1;
    }
}

void TextDisplay::row(const RowLabel& label, const LineStamp& stamp, std::string_view body) {
    closeOpenRow();
    appendHead(label, stamp);
    pending_ += body;
    pending_ += '\n';
}

void TextDisplay::extend(int owner, const RowLabel& label, const LineStamp& stamp,
                         std::string_view body) {
    if (open_ != owner) {
        closeOpenRow();
        appendHead(label, stamp);
        open_ = owner;
    }
    pending_ += body;
}

void TextDisplay::finish(int owner, const RowLabel& label, const LineStamp& stamp,
                         std::string_view rest) {
    if (open_ == owner) {
        pending_ += rest;
        pending_ += '\n';
        open_ = -1;
        return;
    }
    if (!rest.empty()) {
        row(label, stamp, rest);
    }
}

}  // namespace dravik::swv
