// The word through which the dialog, start-up and the worker meet.
#include "worker/worker_state.h"

std::atomic<int32_t> workerState{WorkerIdle};

const char* workerStateName(int32_t value) {
    switch (static_cast<WorkerStateValue>(value)) {
        case WorkerIdle:
            return "Idle";
        case WorkerStartRequested:
            return "StartRequested";
        case WorkerRunning:
            return "Running";
        case WorkerStopping:
            return "Stopping";
        case WorkerQuit:
            return "Quit";
    }
    return "unknown";
}
