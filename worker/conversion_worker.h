// The worker thread: runs whole conversions as a state machine and owns the
// output file.
#pragma once

#include <atomic>
#include <cstdint>

#include "window/window_layer.h"

struct WorkerContext {
    WindowHandle dialog;
    std::atomic<int32_t>* stateWord;
};

constexpr int32_t WorkerExitCode = 4;

// How the last run ended, for the front ends.
enum class RunOutcome : int32_t {
    None,              // no run has ended yet
    Completed,         // output kept
    NoArchives,        // nothing found; nothing touched
    OutputNotCreated,  // the output path could not be created
    Refused,           // the output path names a source archive; nothing touched
    Failed,            // an archive failed; output removed
    WriteFailed,       // the output could not be fully written; output removed, the path untouched
    Cancelled,         // the user cancelled; output removed, the path untouched
    Quit,              // the program quit during a run; output removed, the path untouched
};

const char* runOutcomeName(RunOutcome outcome);

// Thread procedure. Returns WorkerExitCode once it has handled Quit.
int32_t conversionWorker(WorkerContext* context);

// Outcome of the last run that ended, and the number of runs (start requests
// the worker took) that have ended since the process began. A reader that
// sees the count change also sees that run's outcome.
RunOutcome lastRunOutcome();
int32_t finishedRunCount();

// The pause between two reads of the word while Idle (50 ms). Tests that
// start thousands of runs shorten it.
constexpr uint32_t WorkerIdleWaitMilliseconds = 50;
void setWorkerIdleWait(uint32_t milliseconds);
