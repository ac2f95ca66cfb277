// The window program: start-up, the message loop and shutdown around the
// main dialog and the one worker thread.
#pragma once

#include <cstdint>

struct WindowProgramOptions {
    const char* instanceName;  // held while the program runs; a later start hands over
    int32_t (*loadEncoder)();  // the encoder library's version number; 0 when none is usable
};

WindowProgramOptions defaultWindowProgramOptions();

// Runs the program once on the calling thread, which becomes the
// user-interface thread; returns its exit code. The window layer stays set
// up for the caller to shut down.
int32_t runWindowProgram(int* argc, char** argv, const WindowProgramOptions& options);
