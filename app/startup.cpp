// Start-up and shutdown steps that both front ends share.
#include "app/startup.h"

#include <cstdio>
#include <cstring>

#include "app/shell_state.h"
#include "archive/block_decoder.h"
#include "platform/folders.h"
#include "platform/path_separator.h"
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

bool defaultOutputPathFor(const char* programPath, const char* currentFolder,
                          bool (*writable)(const char* folder), char* target) {
    target[0] = '\0';
    // The program's folder keeps its trailing separator; the current folder
    // gets one unless it is the root.
    char folder[PathCapacity];
    size_t folderLength = 0;
    for (size_t i = 0; programPath[i] != '\0'; ++i) {
        if (isPathSeparator(programPath[i])) folderLength = i + 1;
    }
    const char* separator = "";
    if (folderLength == 0 || folderLength >= size_t{PathCapacity}) {
        folderLength = 0;
    } else {
        std::memcpy(folder, programPath, folderLength);
        folder[folderLength] = '\0';
        // An installed program's folder is usually closed to its users.
        if (!writable(folder)) folderLength = 0;
    }
    if (folderLength == 0) {
        folderLength = std::strlen(currentFolder);
        if (folderLength >= size_t{PathCapacity}) return false;
        std::memcpy(folder, currentFolder, folderLength + 1);
        if (folderLength > 0 && !isPathSeparator(folder[folderLength - 1])) {
            separator = PathSeparatorText;
        }
    }
    const int written =
        std::snprintf(target, PathCapacity, "%s%s%s", folder, separator, DefaultOutputName);
    if (written < 0 || written >= PathCapacity) {
        target[0] = '\0';
        return false;
    }
    return true;
}

bool setDefaultOutputPath() {
    char programPath[PathCapacity];
    char currentFolder[PathCapacity];
    if (!currentProgramPath(programPath, PathCapacity)) programPath[0] = '\0';
    // Without a known current folder the name alone still means it.
    if (!currentFolderPath(currentFolder, PathCapacity)) currentFolder[0] = '\0';
    return defaultOutputPathFor(programPath, currentFolder, folderWritable, outputPath);
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
