// The rows of one text output (the main output, or a port's file), in the order things happened.
//
// Each row starts with a head: the time column and a label ("[3]" for a port, "[gap]", ...).
// A port's unfinished line may be shown before its end arrives; its row is then left open, and
// more of the same line continues it. Anything else written meanwhile (another port's line, an
// event, a gap) ends the open row first, and the rest of the interrupted line later starts a row
// of its own, with its head again, so that two ports never share a row.
#pragma once

#include <string>
#include <string_view>

#include "dravik/swv/LineTime.h"

namespace dravik::swv {

struct RowLabel {
    std::string text;             // "[3]", "[gap]"; empty for none
    const char* color = nullptr;  // used when the output is coloured
};

class TextDisplay {
  public:
    TextDisplay(const TimeColumnConfig& time, bool color) : time_(time), color_(color) {}

    // A whole row; a row left open is ended first.
    void row(const RowLabel& label, const LineStamp& stamp, std::string_view body);
    // More of `owner`'s unfinished line: continues the open row when it is the owner's, else
    // starts one. The row is left open.
    void extend(int owner, const RowLabel& label, const LineStamp& stamp, std::string_view body);
    // The end of `owner`'s line, of which a part was shown: ends the open row when it is the
    // owner's; else `rest` gets a row of its own (none when it is empty).
    void finish(int owner, const RowLabel& label, const LineStamp& stamp, std::string_view rest);
    // Ends the row left open, if there is one.
    void closeOpenRow();
    bool rowOpen() const { return open_ >= 0; }

    TimeColumn& time() { return time_; }
    bool colored() const { return color_; }
    // What has been produced and not yet written.
    std::string& pending() { return pending_; }
    const std::string& pending() const { return pending_; }

  private:
    void appendHead(const RowLabel& label, const LineStamp& stamp);

    TimeColumn time_;
    bool color_;
    std::string pending_;
    int open_ = -1;  // owner of the open row
};

}  // namespace dravik::swv
