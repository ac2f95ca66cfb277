// Start-up and shutdown steps that both front ends share, in the order the
// window program runs them.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/thread.h"
#include "window/window_layer.h"
#include "worker/conversion_worker.h"

// outputPath = DefaultOutputName in the program's own folder when the user may
// create files there, otherwise in the current folder. false (outputPath
// empty) when the path does not fit.
bool setDefaultOutputPath();
// The same choice from given facts, into a PathCapacity buffer; either path
// may be empty when unknown.
bool defaultOutputPathFor(const char* programPath, const char* currentFolder,
                          bool (*writable)(const char* folder), char* target);

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
