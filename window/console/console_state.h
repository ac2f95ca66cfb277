// Inner state of the console backend, shared by its files only. Control
// state is touched on the user-interface thread only (the core hands every
// other thread's call over); the layer's mutex guards the entry label.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "window/console/console_window.h"
#include "window/window_core.h"

constexpr int32_t ConsoleTextCapacity = 1024;
constexpr int32_t ConsoleListCapacity = 64;

struct NativeControl {
    bool enabled;
    char text[ConsoleTextCapacity];
    std::unique_ptr<char[][PathCapacity]> rows;  // lists only
    int32_t rowCount;
    int32_t selection;
};

struct NativeDialog {
    bool visible;
    WindowRect rect;
    char title[ConsoleTextCapacity];
    std::unique_ptr<NativeControl[]> controls;
};

// The progress line, user-interface thread only.
struct ProgressView {
    PlatformWindow* dialog;
    int32_t barId;
    bool active;
    bool dirty;
    bool lineOpen;   // a '\r' line stands on the terminal without its newline
    bool finishing;  // the run's last line is drawn
    std::chrono::steady_clock::time_point lastRender;
    std::chrono::steady_clock::time_point started;  // when the range was set
    int64_t shownSecond;                            // of the time taken, last drawn
};

struct ConsoleLayer {
    std::mutex mutex;
    char entryLabel[PathCapacity] = {};
    bool entryLabelChanged = false;

    // User-interface thread only.
    ConsoleWindowConfig config{};
    bool configured = false;
    ConsoleLoopHook hook = nullptr;
    void* hookContext = nullptr;
    uint32_t hookInterval = 50;
    int wakeDescriptor = -1;
    ProgressView progress{};
    int labelPipe = -1;    // read end while standard output is taken in
    int savedOutput = -1;  // the real standard output meanwhile
    char labelPending[PathCapacity] = {};
    int32_t labelPendingLength = 0;
};

namespace consolewindow {
inline ConsoleLayer layer;
}
using consolewindow::layer;

// The wake (console_wake_posix.cpp, console_wake_win32.cpp): what
// windowbackend::wake signals.
bool openWake();
void closeWake();
// Waits until woken, an extra descriptor (when >= 0) is readable, or the
// timeout passes; which extra descriptors are readable (bit 0: first, bit 1:
// second). On Windows the descriptors are C runtime descriptors over pipes.
uint32_t waitForWake(int32_t timeoutMilliseconds, int first, int second);

// The terminal (console_terminal_posix.cpp, console_terminal_win32.cpp).
bool standardErrorIsTerminal();
bool standardInputIsTerminal();
// Columns of the terminal standard error shows on (80 when unknown).
int32_t terminalWidth();
// Waits up to the timeout for the answer line being typed: the bytes read
// (> 0), 0 for nothing yet, -1 when input ended, -2 when the wake
// descriptor became readable (a stop came).
int32_t readTerminalAnswer(char* buffer, int32_t capacity, int32_t timeoutMilliseconds);
// After the question: a read still pending is ended.
void endTerminalAnswer();
// Standard output taken into a pipe while the loop runs (see "Entry labels"
// in console_window.h); the labels drained go to takeLabelBytes.
void startLabelCapture();
void drainLabelCapture();
void stopLabelCapture();

// Output (console_output.cpp).
void markProgressDirty(PlatformWindow* dialog);
void renderProgress(bool force);
void finishProgressLine();
void takeLabelBytes(const char* bytes, int32_t count);
