// The worker thread: runs whole conversions as a state machine and owns the
// output file.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/window_layer.h"

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
    Failed,            // an archive failed; output deleted
    WriteFailed,       // the output could not be fully written; output deleted
    Cancelled,         // the user cancelled; output deleted
    Quit,              // the program quit during a run; output deleted
};

const char* runOutcomeName(RunOutcome outcome);

// Thread procedure. Returns WorkerExitCode once it has handled Quit.
int32_t conversionWorker(WorkerContext* context);

RunOutcome lastRunOutcome();
// Number of runs that have ended since the worker began.
int32_t finishedRunCount();
