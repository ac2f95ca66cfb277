// What the console shows: message boxes as messages, questions on the
// terminal, the progress line, and the entry labels taken from standard output.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/console_text.h"
#include "window/console/console_state.h"
#include "window/console/progress_line.h"

namespace {

constexpr int32_t LineCapacity = 512;
constexpr auto TerminalRedrawInterval = std::chrono::milliseconds(50);
constexpr auto PlainLineInterval = std::chrono::seconds(1);
constexpr int32_t QuestionPollMilliseconds = 50;

// The last plain line written, so an unchanged state is not repeated.
char lastPlainLine[LineCapacity] = {};

void writeError(const char* text) {
    consolePuts(stderr, text);
    std::fflush(stderr);
}

// Removes the open progress line first, so a message starts on a clean line;
// the next pass of the loop draws the line again.
__attribute__((format(VUD_PRINTF_FORMAT, 1, 2))) void writeMessage(const char* format, ...) {
    ProgressView& view = layer.progress;
    if (view.lineOpen) {
        consolePuts(stderr, "\r\033[K");
        view.lineOpen = false;
        view.dirty = true;
    }
    va_list arguments;
    va_start(arguments, format);
    consolePrintList(stderr, format, arguments);
    va_end(arguments);
    std::fflush(stderr);
}

MessageBoxAnswer yesOrNo(MessageBoxAnswer answer) {
    return answer == MessageBoxAnswer::Yes ? MessageBoxAnswer::Yes : MessageBoxAnswer::No;
}

// Reads one answer line from the terminal while keeping the other thread's
// calls served. A readable wake descriptor (a stop signal came) or the end of
// input declines; a quit ends the question unanswered.
MessageBoxAnswer askOnTerminal(const char* caption, const char* text) {
    writeMessage("%s: %s [y/N] ", caption, text);
    windowcore::enterServing();
    MessageBoxAnswer answer = MessageBoxAnswer::No;
    bool firstCharacterSeen = false;
    bool lineEnded = false;
    while (!lineEnded) {
        windowcore::serveCalls();
        drainLabelCapture();
        if (windowcore::quitPending()) {
            answer = MessageBoxAnswer::Failed;
            break;
        }
        char chunk[128];
        const int32_t count = readTerminalAnswer(chunk, sizeof chunk, QuestionPollMilliseconds);
        if (count == -2) {
            answer = MessageBoxAnswer::No;
            break;
        }
        if (count == 0) continue;
        if (count < 0) break;
        for (int32_t i = 0; i < count && !lineEnded; ++i) {
            const char c = chunk[i];
            if (c == '\n') {
                lineEnded = true;
            } else if (!firstCharacterSeen && c != ' ' && c != '\t') {
                firstCharacterSeen = true;
                if (c == 'y' || c == 'Y') answer = MessageBoxAnswer::Yes;
            }
        }
    }
    endTerminalAnswer();
    if (!lineEnded) writeError("\n");
    windowcore::leaveServing();
    return answer;
}

// The bar's position as a share of scale; 0 for an empty range.
int64_t progressShare(const WindowControl& bar, int64_t scale) {
    const int64_t span = static_cast<int64_t>(bar.rangeMaximum) - bar.rangeMinimum;
    return span > 0 ? (static_cast<int64_t>(bar.position) - bar.rangeMinimum) * scale / span : 0;
}

void percentText(const ProgressView& view, const WindowControl& bar, char* buffer,
                 int32_t capacity) {
    const WindowControl* label = windowcore::findControl(view.dialog, layer.config.percentTextId);
    if (label != nullptr) {
        windowcore::copyText(buffer, capacity, label->native->text);
        return;
    }
    std::snprintf(buffer, static_cast<size_t>(capacity), "%" PRId64 "%%", progressShare(bar, 100));
}

void renderTerminalLine(ProgressView& view, const WindowControl& bar, const char* percent,
                        int64_t elapsedMilliseconds) {
    char label[PathCapacity] = {};
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        windowcore::copyText(label, PathCapacity, layer.entryLabel);
        layer.entryLabelChanged = false;
    }
    const auto audioMillisecondsDone = layer.config.audioMillisecondsDone;
    const ProgressLineFacts facts{
        .label = label,
        .percent = percent,
        .done = static_cast<int64_t>(bar.position) - bar.rangeMinimum,
        .total = static_cast<int64_t>(bar.rangeMaximum) - bar.rangeMinimum,
        .timed = audioMillisecondsDone != nullptr,
        .finished = view.finishing,
        .elapsedMilliseconds = elapsedMilliseconds,
        .audioMilliseconds = audioMillisecondsDone != nullptr ? audioMillisecondsDone() : 0,
        .columns = terminalWidth()};
    // Built in one buffer and written at once, so the line never flickers.
    char line[LineCapacity];
    line[0] = '\r';
    const int32_t length = formatProgressLine(facts, line + 1, LineCapacity - 4);
    std::memcpy(line + 1 + length, "\033[K", 4);
    writeError(line);
    view.lineOpen = true;
    view.shownSecond = elapsedMilliseconds / 1000;
}

bool renderPlainLine(const WindowControl& bar, const char* percent, bool due) {
    char line[LineCapacity];
    std::snprintf(line, sizeof line, "progress %s (%" PRId32 "/%" PRId32 ")\n", percent,
                  bar.position - bar.rangeMinimum, bar.rangeMaximum - bar.rangeMinimum);
    if (std::strcmp(line, lastPlainLine) == 0) return true;
    if (!due) return false;
    writeError(line);
    windowcore::copyText(lastPlainLine, LineCapacity, line);
    return true;
}

}  // namespace

MessageBoxAnswer windowbackend::messageBox(PlatformWindow* owner, const char* text,
                                           const char* caption, MessageBoxButtons buttons,
                                           MessageBoxIcon icon) {
    MessageBoxAnswer answer = MessageBoxAnswer::Ok;
    switch (buttons) {
        case MessageBoxButtons::Ok:
            writeMessage("%s%s%s\n", caption, caption[0] != '\0' ? ": " : "", text);
            break;
        case MessageBoxButtons::YesNo:
            if (layer.config.questionHandler != nullptr) {
                answer = yesOrNo(
                    layer.config.questionHandler(text, caption, layer.config.questionContext));
            } else if (layer.config.askOnTerminal) {
                answer = askOnTerminal(caption, text);
            } else {
                answer = yesOrNo(layer.config.presetAnswer);
                // A question answered No stops what the user asked for: its
                // text is the only reason given, so even a quiet run shows it.
                if (!layer.config.quiet || answer == MessageBoxAnswer::No) {
                    writeMessage("%s: %s [%s]\n", caption, text,
                                 answer == MessageBoxAnswer::Yes ? "yes" : "no");
                }
            }
            break;
    }
    windowcore::announceMessageBox({owner, text, caption, buttons, icon});
    return answer;
}

// A new range starts a new progress line.
void windowbackend::progressChanged(PlatformWindow* dialog, WindowControl& bar, bool rangeChanged) {
    ProgressView& view = layer.progress;
    if (!rangeChanged) return markProgressDirty(dialog);
    if (view.active && view.dialog != dialog) finishProgressLine();
    view.dialog = dialog;
    view.barId = bar.id;
    view.active = true;
    view.dirty = true;
    view.finishing = false;
    view.started = std::chrono::steady_clock::now();
    view.shownSecond = 0;
    lastPlainLine[0] = '\0';
}

void markProgressDirty(PlatformWindow* dialog) {
    ProgressView& view = layer.progress;
    if (view.active && view.dialog == dialog) view.dirty = true;
}

void renderProgress(bool force) {
    ProgressView& view = layer.progress;
    if (!view.active || layer.config.quiet) return;
    // Liveness is written on this thread only: no lock for it.
    if (!view.dialog->alive) return;
    bool labelChanged = false;
    {
        std::lock_guard<std::mutex> lock(layer.mutex);
        labelChanged = layer.entryLabelChanged;
    }
    const bool terminal = layer.config.progressOnTerminal;
    const auto now = std::chrono::steady_clock::now();
    const int64_t elapsedMilliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - view.started).count();
    // The time taken counts on while nothing else changes.
    const bool clockTicked = terminal && layer.config.audioMillisecondsDone != nullptr &&
                             elapsedMilliseconds / 1000 != view.shownSecond;
    if (!view.dirty && !force && !(terminal && labelChanged) && !clockTicked) return;
    const WindowControl* bar = windowcore::findControl(view.dialog, view.barId);
    if (bar == nullptr || bar->kind != ControlKind::ProgressBar) return;
    char percent[64];
    percentText(view, *bar, percent, sizeof percent);
    if (terminal) {
        if (!force && view.lineOpen && now - view.lastRender < TerminalRedrawInterval) return;
        renderTerminalLine(view, *bar, percent, elapsedMilliseconds);
    } else {
        const bool due = force || lastPlainLine[0] == '\0' || bar->position >= bar->rangeMaximum ||
                         now - view.lastRender >= PlainLineInterval;
        if (!renderPlainLine(*bar, percent, due)) return;
    }
    view.lastRender = now;
    view.dirty = false;
}

void finishProgressLine() {
    ProgressView& view = layer.progress;
    if (!view.active) return;
    // The last labels the worker printed belong to this run's last line.
    drainLabelCapture();
    view.finishing = true;
    renderProgress(true);
    if (view.lineOpen) writeError("\n");
    view.lineOpen = false;
    view.active = false;
    view.dialog = nullptr;
}

void takeLabelBytes(const char* bytes, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            if (layer.labelPendingLength == 0) continue;
            layer.labelPending[layer.labelPendingLength] = '\0';
            consoleSetEntryLabel(layer.labelPending);
            layer.labelPendingLength = 0;
        } else if (layer.labelPendingLength < PathCapacity - 1) {
            layer.labelPending[layer.labelPendingLength++] = c;
        }
    }
}

void consoleSetEntryLabel(const char* label) {
    std::lock_guard<std::mutex> lock(layer.mutex);
    windowcore::copyText(layer.entryLabel, PathCapacity, label);
    layer.entryLabelChanged = true;
}

void consoleEndProgressLine() {
    if (windowcore::onUserInterfaceThread()) finishProgressLine();
}
