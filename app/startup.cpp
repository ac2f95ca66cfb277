// Start-up and shutdown steps that both front ends share.
#include "app/startup.h"

#include <cstring>

#include "app/shell_state.h"
#include "archive/block_decoder.h"
#include "platform/process.h"
#include "worker/worker_state.h"

namespace {

// a - b with the wrap-around of the platform's 32-bit arithmetic.
int32_t wrappingDifference(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

int32_t runWorkerThread(void* argument) {
    return conversionWorker(static_cast<WorkerContext*>(argument));
}

}  // namespace

bool setDefaultOutputPath() {
    char programPath[PathCapacity];
    if (!currentProgramPath(programPath, PathCapacity)) {
        outputPath[0] = '\0';
        return false;
    }
    // The folder part keeps its trailing separator.
    const char* lastSeparator = std::strrchr(programPath, '/');
    size_t folderLength = lastSeparator == nullptr ? 0 : size_t(lastSeparator - programPath) + 1;
    size_t nameLength = std::strlen(DefaultOutputName);
    if (folderLength + nameLength >= size_t{PathCapacity}) {
        outputPath[0] = '\0';
        return false;
    }
    std::memcpy(outputPath, programPath, folderLength);
    std::memcpy(outputPath + folderLength, DefaultOutputName, nameLength + 1);
    return true;
}

void centredPosition(int32_t screenWidth, int32_t screenHeight, int32_t width, int32_t height,
                     int32_t* x, int32_t* y) {
    // An arithmetic shift: halved and rounded towards minus infinity.
    *x = wrappingDifference(screenWidth, width) >> 1;
    *y = wrappingDifference(screenHeight, height) >> 1;
}

void centreDialog(WindowHandle dialog) {
    WindowRect rect{};
    if (!windowGetRect(dialog, &rect)) return;
    const int32_t width = wrappingDifference(rect.right, rect.left);
    const int32_t height = wrappingDifference(rect.bottom, rect.top);
    int32_t x = 0;
    int32_t y = 0;
    centredPosition(windowScreenWidth(), windowScreenHeight(), width, height, &x, &y);
    windowMove(dialog, x, y, width, height);
}

bool startWorker(WindowHandle dialog, ApplicationRun* run) {
    workerState.store(WorkerIdle);
    buildDecodeTables();
    run->context.dialog = dialog;
    run->context.stateWord = &workerState;
    run->workerThread = threadStart(runWorkerThread, &run->context);
    return run->workerThread != nullptr;
}

bool stopWorker(ApplicationRun* run) {
    workerState.store(WorkerQuit);
    if (run->workerThread == nullptr) return false;
    int32_t exitCode = threadJoin(run->workerThread);
    run->workerThread = nullptr;
    return exitCode == WorkerExitCode;
}
