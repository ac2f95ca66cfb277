// The text of the terminal's progress line.
#include "window/console/progress_line.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/text_encoding.h"

namespace {

constexpr int32_t MostBarCells = 30;
constexpr int32_t LeastBarCells = 10;
// A label cut shorter than this tells nothing.
constexpr int32_t LeastLabelBytes = 4;
constexpr int32_t FigureCapacity = 32;
constexpr int32_t TimesCapacity = 160;

// m:ss, or h:mm:ss past an hour.
void formatDuration(int64_t seconds, char* buffer) {
    seconds = std::max<int64_t>(seconds, 0);
    const int64_t hours = seconds / 3600;
    const int64_t minutes = seconds / 60 % 60;
    if (hours > 0) {
        std::snprintf(buffer, FigureCapacity, "%" PRId64 ":%02" PRId64 ":%02" PRId64, hours,
                      minutes, seconds % 60);
    } else {
        std::snprintf(buffer, FigureCapacity, "%" PRId64 ":%02" PRId64, minutes, seconds % 60);
    }
}

// Audio time per elapsed time, rounded: one decimal below 10, whole above.
void formatSpeed(int64_t audioMilliseconds, int64_t elapsedMilliseconds, char* buffer) {
    const int64_t half = elapsedMilliseconds / 2;
    const int64_t tenths = (audioMilliseconds * 10 + half) / elapsedMilliseconds;
    if (tenths < 100) {
        std::snprintf(buffer, FigureCapacity, "%" PRId64 ".%" PRId64 "x", tenths / 10, tenths % 10);
    } else {
        std::snprintf(buffer, FigureCapacity, "%" PRId64 "x",
                      (audioMilliseconds + half) / elapsedMilliseconds);
    }
}

// The figures a timed line may show; empty when there is none.
struct TimeFigures {
    bool complete;  // the last line of a run that converted every entry
    char elapsed[FigureCapacity];
    char left[FigureCapacity];
    char speed[FigureCapacity];
};

TimeFigures timeFigures(const ProgressLineFacts& facts) {
    TimeFigures figures{};
    const int64_t elapsed = std::max<int64_t>(facts.elapsedMilliseconds, 0);
    figures.complete = facts.finished && facts.total > 0 && facts.done >= facts.total;
    formatDuration(elapsed / 1000, figures.elapsed);
    const bool settled = elapsed >= ProgressSettleMilliseconds;
    if (!facts.finished && settled && facts.done > 0 && facts.done < facts.total) {
        // The entries left take as long as those done took; a started
        // second counts whole, so the line never says 0:00 before the end.
        const int64_t leftMilliseconds = elapsed * (facts.total - facts.done) / facts.done;
        formatDuration((leftMilliseconds + 999) / 1000, figures.left);
    }
    if ((facts.finished || settled) && facts.audioMilliseconds > 0 && elapsed > 0)
        formatSpeed(facts.audioMilliseconds, elapsed, figures.speed);
    return figures;
}

// The times part at one level of detail: 0 everything, 1 without " real
// time", 2 without the time left, 3 without the speed, 4 nothing.
int32_t formatTimes(const TimeFigures& figures, int32_t level, char* buffer) {
    if (level >= 4) {
        buffer[0] = '\0';
        return 0;
    }
    int32_t length = std::snprintf(buffer, TimesCapacity, "  %s%s",
                                   figures.complete ? "done in " : "", figures.elapsed);
    auto append = [&](const char* format, const char* figure) {
        length += std::snprintf(buffer + length, static_cast<size_t>(TimesCapacity - length),
                                format, figure);
    };
    if (level < 2 && figures.left[0] != '\0') append(", %s left", figures.left);
    if (level < 3 && figures.speed[0] != '\0') {
        append(", %s", figures.speed);
        if (level < 1 && figures.complete) append("%s", " real time");
    }
    return length;
}

}  // namespace

int32_t formatProgressLine(const ProgressLineFacts& facts, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return 0;
    // The last column stays free: a line filling it would wrap on some
    // terminals, and the next '\r' would then redraw only its second row.
    const int32_t room = facts.columns - 1;
    const int32_t fixed = 3 + static_cast<int32_t>(std::strlen(facts.percent));  // "[] " + percent

    char times[TimesCapacity] = {};
    int32_t timesLength = 0;
    if (facts.timed) {
        const TimeFigures figures = timeFigures(facts);
        for (int32_t level = 0; level <= 4; ++level) {
            timesLength = formatTimes(figures, level, times);
            if (fixed + LeastBarCells + timesLength <= room) break;
        }
    }
    int32_t rest = room - fixed - timesLength;

    // Bytes are at least as many as the columns a UTF-8 label takes.
    int32_t labelLength = static_cast<int32_t>(std::strlen(facts.label));
    const int32_t labelRoom = rest - LeastBarCells - 2;
    if (labelRoom < LeastLabelBytes) {
        labelLength = 0;
    } else {
        labelLength = wholeUtf8Prefix(facts.label, labelLength, labelRoom);
    }
    if (labelLength > 0) rest -= labelLength + 2;

    static constexpr char Filled[] = "##############################";
    static constexpr char Empty[] = "------------------------------";
    static_assert(sizeof Filled == MostBarCells + 1 && sizeof Empty == MostBarCells + 1);
    const int32_t cells = std::clamp(rest, LeastBarCells, MostBarCells);
    const int64_t done = std::clamp<int64_t>(facts.done, 0, std::max<int64_t>(facts.total, 0));
    const auto filled = static_cast<int32_t>(facts.total > 0 ? done * cells / facts.total : 0);
    const int32_t length = std::snprintf(
        buffer, static_cast<size_t>(capacity), "%.*s%s[%.*s%.*s] %s%s", labelLength, facts.label,
        labelLength > 0 ? "  " : "", filled, Filled, cells - filled, Empty, facts.percent, times);
    return std::clamp(length, 0, capacity - 1);
}
