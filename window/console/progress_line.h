// The progress line on a terminal, from what it shows: the latest entry
// label, the bar, the percentage and, for a timed run, the time taken, the
// time left and the speed as a multiple of real time. A narrow terminal
// keeps the bar and the percentage longest: the bar shrinks to its least
// first, then the label is cut or left out, then the time left, the speed
// and the time taken go, in that order.
#pragma once

#include <cstdint>

struct ProgressLineFacts {
    const char* label;            // empty: none
    const char* percent;          // shown beside the bar as it is
    int64_t done;                 // the bar's position from the start of its range
    int64_t total;                // the bar's range
    bool timed;                   // false: label, bar and percentage only
    bool finished;                // the run's last line: the time it took
    int64_t elapsedMilliseconds;  // since the run started
    int64_t audioMilliseconds;    // audio converted meanwhile; 0: no speed
    int32_t columns;              // of the terminal
};

// Early figures swing widely: the time left and the speed wait this long.
constexpr int64_t ProgressSettleMilliseconds = 3000;

// The line without the carriage return and erase around it, truncated to
// the capacity; its length.
int32_t formatProgressLine(const ProgressLineFacts& facts, char* buffer, int32_t capacity);
