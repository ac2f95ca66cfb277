// The console backend of the window layer: what the command-line front end
// adds on top of window/window_layer.h. The dialog lives in memory; its
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

#include "window/window_layer.h"

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
    bool mergeEntryLabels;  // see "Entry labels" above
    // Audio converted so far in the run, in milliseconds; called on the
    // user-interface thread. Set, the line on a terminal also shows the time
    // taken since the bar's range was set, the time left and the speed as a
    // multiple of real time; null: the label, the bar and the percentage only.
    int64_t (*audioMillisecondsDone)();
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

// User-interface thread. While descriptor (>= 0; -1: none) is readable, the
// loop runs the hook at once, and a terminal question waiting ends with No
// (so Ctrl-C during the overwrite question declines it). The hook must empty
// the descriptor.
void consoleSetWakeDescriptor(int32_t descriptor);

// Any thread: the entry label shown at the start of the progress line.
void consoleSetEntryLabel(const char* label);
// User-interface thread: draws the progress line a last time and ends it (a
// new run's range starts a new one). The loop's end and the dialog's
// destruction do the same.
void consoleEndProgressLine();
