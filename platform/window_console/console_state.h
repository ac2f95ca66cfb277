// Inner state of the console backend, shared by its files only.
//
// Control state is touched on the user-interface thread only: a call from any
// other thread is wrapped in a Request, queued under the layer's mutex and
// applied by the user-interface thread while it serves its loop. The mutex
// guards the queue, the serving depth, the list of dialogs with their alive
// flags, and the entry label.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/window_console/console_window.h"
#include "platform/window_layer.h"

constexpr int32_t ConsoleTextCapacity = 1024;
constexpr int32_t ConsoleListCapacity = 64;

struct ConsoleListRow {
    char text[PathCapacity];
};

struct ConsoleControl {
    int32_t id;
    ControlKind kind;
    bool enabled;
    char text[ConsoleTextCapacity];
    int32_t rangeMinimum, rangeMaximum, position;
    std::unique_ptr<ConsoleListRow[]> rows;  // lists only
    int32_t rowCount;
    int32_t selection;
};

struct PlatformWindow {
    PlatformWindow* next;  // the layer's list of every dialog made
    DialogProcedure procedure;
    bool alive;  // written under the mutex, on the user-interface thread
    bool destroying;
    bool visible;
    WindowRect rect;
    char title[ConsoleTextCapacity];
    std::unique_ptr<ConsoleControl[]> controls;
    int32_t controlCount;
};

// A call handed from another thread to the user-interface thread. Lives on
// the caller's stack until done is set.
struct Request {
    Request* next;
    PlatformWindow* target;
    bool needsTarget;
    void (*invoke)(void*);
    void* closure;
    std::atomic<bool> done;  // set after applied, so a caller that sees it may read applied
    bool applied;
};

constexpr uint32_t PostedRingSize = 64;
enum PostedSlotState : uint32_t { SlotEmpty = 0, SlotReady = 1 };

struct PostedSlot {
    std::atomic<uint32_t> state;
    std::atomic<PlatformWindow*> dialog;
    std::atomic<uint32_t> message;
    std::atomic<uint32_t> param;
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
    std::condition_variable requestDone;
    Request* queueHead = nullptr;
    Request* queueTail = nullptr;
    int32_t servingDepth = 0;  // the loop and any question loop inside it
    bool initialized = false;
    PlatformWindow* windows = nullptr;
    char entryLabel[PathCapacity] = {};
    bool entryLabelChanged = false;

    std::atomic<int> wakeRead{-1};
    std::atomic<int> wakeWrite{-1};
    PostedSlot posted[PostedRingSize];
    std::atomic<uint32_t> postedWrite{0};
    std::atomic<uint32_t> postedRead{0};
    std::atomic<bool> quitPosted{false};
    std::atomic<int32_t> quitCode{0};

    // User-interface thread only.
    ConsoleWindowConfig config{};
    bool configured = false;
    ConsoleLoopHook hook = nullptr;
    void* hookContext = nullptr;
    uint32_t hookInterval = 50;
    ProgressView progress{};
    ConsoleMessageBoxRecord lastBox{};
    int labelPipe = -1;    // read end while standard output is taken in
    int savedOutput = -1;  // the real standard output meanwhile
    char labelPending[PathCapacity] = {};
    int32_t labelPendingLength = 0;
};

ConsoleLayer& consoleLayer();
bool onUserInterfaceThread();
void setUserInterfaceThread(bool value);

// Copies at most capacity - 1 bytes without splitting a UTF-8 sequence; the
// number of bytes copied.
int32_t copyText(char* buffer, int32_t capacity, const char* text);

// Control id of dialog (of kind, in the second form), or null.
ConsoleControl* findControl(PlatformWindow* dialog, int32_t id);
ConsoleControl* findControl(PlatformWindow* dialog, int32_t id, ControlKind kind);

// Under the mutex: target is a dialog of the list and still alive.
bool isLiveLocked(const PlatformWindow* target);
bool isLive(const PlatformWindow* target);

// Runs invoke(closure) on the user-interface thread, gated by "dialog alive"
// (when needsTarget) and "the loop is served". false when it was not run.
bool consoleCall(PlatformWindow* target, bool needsTarget, void (*invoke)(void*), void* closure);

template <typename Apply>
bool callOnUiThread(PlatformWindow* target, bool needsTarget, Apply& apply) {
    return consoleCall(
        target, needsTarget, [](void* closure) { (*static_cast<Apply*>(closure))(); }, &apply);
}

// Serving: entered by the loop and by question loops, left in reverse; leaving
// the outermost fails every call still queued.
void enterServing();
void leaveServing();
void serveQueuedCalls();
void wakeLoop();  // async-signal-safe
// Waits until woken, fd (when >= 0) is readable, or timeout passes; true when fd is readable.
bool waitForWake(int32_t timeoutMilliseconds, int fd);
bool postedPending();
// The wake pipe and an empty post queue; closing fails every queued call and
// frees every dialog.
bool openDispatch();
void closeDispatch();
void dispatchPosted();

// Output (console_output.cpp).
MessageBoxAnswer showConsoleBox(PlatformWindow* owner, const char* text, const char* caption,
                                MessageBoxButtons buttons, MessageBoxIcon icon);
void progressRangeSet(PlatformWindow* dialog, int32_t id);
void progressChanged(PlatformWindow* dialog);
void renderProgress(bool force);
void finishProgressLine();
void startLabelCapture();
void drainLabelCapture();
void stopLabelCapture();
int labelCaptureFd();
