// The profile as text: a screen that redraws in place on a terminal, a plain table for a pipe or
// the end summary, and one JSON object per report. Pure: each returns the whole text and the
// caller writes it out.
#pragma once

#include <string>

#include "dravik/profile/ProfileReport.h"

namespace dravik::profile {

struct ScreenSize {
    unsigned columns = 80;
    unsigned rows = 24;
};

// One screenful: the cursor goes home, every line is cut to the width and cleared to its end,
// and what is below is cleared, so writing it again redraws in place without flicker. Tables
// that do not fit the height lose their last rows (a "... N more" row says how many). Ends with
// the cursor at the start of the last line written, so the terminal never scrolls.
std::string renderScreen(const ProfileReport& report, ScreenSize size);

// Every row of every table, no escape codes, a blank line after it: one per interval on a
// pipe, and the end summary (a report of scope Run).
std::string renderTable(const ProfileReport& report);

// One JSON object on one line, with its line end. Shares are fractions 0..1, times seconds,
// addresses numbers; mean/max times appear only for exceptions with timed pairs, in seconds
// only with a known timestamp clock.
std::string renderJson(const ProfileReport& report);

// "2.50 us", "12.34 ms", "1.500 s".
std::string formatSeconds(double seconds);

}  // namespace dravik::profile
