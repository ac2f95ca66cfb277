// The console backend of the window layer: what the command-line front end
// adds on top of platform/window_layer.h. The dialog lives in memory; its
// progress is drawn on standard error, its message boxes become messages on
// standard error or questions on the terminal.
//
// Entry labels. The conversion prints one label per entry on standard output,
// ending in '\r'. When standard output and standard error are the same
// terminal, the bar's own '\r' line and the labels would overwrite each other;
// so while the message loop runs, the backend then takes standard output into
// a pipe that the loop drains, and shows the latest label at the start of the
// progress line (mergeEntryLabels). consoleSetEntryLabel sets it directly.
#pragma once

#include <cstdint>

#include "platform/window_layer.h"

// Answers a Yes/No question instead of the terminal or the preset answer.
typedef MessageBoxAnswer (*ConsoleQuestionHandler)(const char* text, const char* caption,
                                                   void* context);
// Called on the user-interface thread while windowRunMessageLoop runs.
typedef void (*ConsoleLoopHook)(void* context);

struct ConsoleWindowConfig {
    bool quiet;                     // no progress output at all (warnings still print)
    bool progressOnTerminal;        // standard error is a terminal: one self-updating line
    bool askOnTerminal;             // standard input is a terminal: Yes/No questions asked there
    MessageBoxAnswer presetAnswer;  // otherwise the answer to every Yes/No question
    // Label whose text is the percentage shown beside the bar; ControlIdNone
    // computes it from the bar.
    int32_t percentTextId;
    bool mergeEntryLabels;                   // see "Entry labels" above
    ConsoleQuestionHandler questionHandler;  // null: terminal or preset answer
    void* questionContext;
};

// Terminals detected from the standard streams; not quiet; preset answer No.
ConsoleWindowConfig consoleDefaultConfig();
// User-interface thread. Takes effect at once; without a call the defaults hold.
void consoleConfigure(const ConsoleWindowConfig& config);

// User-interface thread. hook(context) runs every intervalMilliseconds while
// windowRunMessageLoop runs (not inside a question); null removes it.
void consoleSetLoopHook(ConsoleLoopHook hook, void* context, uint32_t intervalMilliseconds);

// Any thread, and async-signal-safe (lock-free atomics and write(2) only):
// queue a Command (id | code << 16), or a Close, for the message loop to
// deliver to dialog's procedure. A null dialog means the most recently created
// dialog that is still alive. false when the queue is full or the layer is
// not initialised. A post pending while a terminal question waits ends the
// question with No (Ctrl-C during the overwrite question declines it).
bool consolePostCommand(WindowHandle dialog, int32_t id, uint16_t code);
bool consolePostClose(WindowHandle dialog);

// Any thread: the entry label shown at the start of the progress line.
void consoleSetEntryLabel(const char* label);
// User-interface thread: draws the progress line a last time and ends it (a
// new run's range starts a new one). The loop's end and the dialog's
// destruction do the same.
void consoleEndProgressLine();

// Inspection, mainly for tests. Any thread (same rules as the item calls).
bool consoleIsUserInterfaceThread();
// Calls from other threads waiting for the user-interface thread.
int32_t consoleQueuedCallCount();
bool consoleGetProgressRange(WindowHandle dialog, int32_t id, int32_t* minimum, int32_t* maximum);
int32_t consoleListRowCount(WindowHandle dialog, int32_t id);  // -1 on failure
// Text of a list row; its length or -1.
int32_t consoleListRowText(WindowHandle dialog, int32_t id, int32_t row, char* buffer,
                           int32_t capacity);
int32_t consoleGetTitle(WindowHandle dialog, char* buffer, int32_t capacity);  // length or -1
bool consoleIsVisible(WindowHandle dialog);

constexpr int32_t ConsoleRecordTextCapacity = 1024;

struct ConsoleMessageBoxRecord {
    int32_t count;  // message boxes shown since windowLayerInitialize
    WindowHandle owner;
    char text[ConsoleRecordTextCapacity];
    char caption[PathCapacity];
    MessageBoxButtons buttons;
    MessageBoxIcon icon;
    MessageBoxAnswer answer;
};
// The last message box shown; false when none was shown or the call failed.
bool consoleLastMessageBox(ConsoleMessageBoxRecord* record);
