// The word through which the dialog, start-up and the worker meet.
#include "worker/worker_state.h"

std::atomic<int32_t> workerState{WorkerIdle};
