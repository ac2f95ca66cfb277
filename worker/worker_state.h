// The word through which the dialog, start-up and the worker meet.
#pragma once

#include <atomic>
#include <cstdint>

enum WorkerStateValue : int32_t {
    WorkerIdle = 0,
    WorkerStartRequested = 1,
    WorkerRunning = 2,
    WorkerStopping = 3,
    WorkerQuit = 4,
};

extern std::atomic<int32_t> workerState;
