// Times as the run's lines, file names and index show them: UTC, to the
// second.
//
//   format_utc_iso(t, text)       "2026-12-07T16:33:02Z"
//   format_utc_compact(t, text)   "20261207-163302Z", for file names that sort
#pragma once

#include <ctime>

inline constexpr unsigned UTC_TEXT_SIZE = 24;

void format_utc_iso(std::time_t t, char (&text)[UTC_TEXT_SIZE]);
void format_utc_compact(std::time_t t, char (&text)[UTC_TEXT_SIZE]);
