// Start-up and shutdown steps that both front ends share, in the order the
// window program runs them.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/thread.h"
#include "platform/window_layer.h"
#include "worker/conversion_worker.h"

// outputPath = the program's own folder + "vud.pac". false when it does not fit.
bool setDefaultOutputPath();

// x = (screenWidth - width) >> 1, y likewise, as signed 32-bit values.
void centredPosition(int32_t screenWidth, int32_t screenHeight, int32_t width, int32_t height,
                     int32_t* x, int32_t* y);
// Moves the dialog to the centre of the primary screen, size unchanged.
void centreDialog(WindowHandle dialog);

struct ApplicationRun {
    WorkerContext context;
    ThreadHandle workerThread;
};

// WorkerState = Idle, build the decode tables, create the one worker thread.
bool startWorker(WindowHandle dialog, ApplicationRun* run);
// WorkerState = Quit, wait for the worker to end; true when it ended with its
// exit code 4.
bool stopWorker(ApplicationRun* run);
