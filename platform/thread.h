// Threads with exit codes, and sleeping.
#pragma once

#include <cstdint>

struct PlatformThread;
typedef PlatformThread* ThreadHandle;

typedef int32_t (*ThreadProcedure)(void* argument);

// Starts procedure(argument) at once; null when the thread cannot be made.
ThreadHandle threadStart(ThreadProcedure procedure, void* argument);
// Waits without spinning until the thread has ended and releases the handle;
// the procedure's result, or -1 when the handle is null.
int32_t threadJoin(ThreadHandle thread);

void sleepMilliseconds(uint32_t milliseconds);
