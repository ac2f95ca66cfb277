// Inner state of the console backend, shared by its files only. Control
// state is touched on the user-interface thread only (the core hands every
// other thread's call over); the layer's mutex guards the entry label.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/window_console/console_window.h"
#include "platform/window_core.h"

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
    bool lineOpen;  // a '\r' line stands on the terminal without its newline
    std::chrono::steady_clock::time_point lastRender;
};

struct ConsoleLayer {
    std::mutex mutex;
    char entryLabel[PathCapacity] = {};
    bool entryLabelChanged = false;

    std::atomic<int> wakeRead{-1};
    std::atomic<int> wakeWrite{-1};

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

// Waits until woken, an extra descriptor (when >= 0) is readable, or the
// timeout passes; which extra descriptors are readable (bit 0: first, bit 1:
// second).
uint32_t waitForWake(int32_t timeoutMilliseconds, int first, int second);

// Output (console_output.cpp).
void markProgressDirty(PlatformWindow* dialog);
void renderProgress(bool force);
void finishProgressLine();
void startLabelCapture();
void drainLabelCapture();
void stopLabelCapture();
