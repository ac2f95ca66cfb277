// Start-up runs in a fixed order: the dialog's initialisation reads the
// default output path and the encoder's version, and the decode tables exist
// before the worker. A later start only asks this one to come forward.
#include "app/gui/window_program.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "app/dialog_resource.h"
#include "app/main_dialog.h"
#include "app/shell_state.h"
#include "app/startup.h"
#include "app/status_services.h"
#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "platform/files.h"
#include "platform/single_instance.h"
#include "platform/stop_signals.h"
#include "window/window_layer.h"
#include "window/window_watch.h"

namespace {

constexpr const char* NoWorkerWarning = "変換スレッドを作成できませんでした.";

void comeForward(void* context) {
    auto* instance = static_cast<SingleInstance*>(context);
    if (!takeActivationRequests(instance)) return;
    windowShow(mainDialog, ShowCommand::Restore);
    windowBringToFront(mainDialog);
}

// A stop signal acts as the close box: the dialog goes, the loop ends.
void stopOnSignal(void*) {
    if (takeStopSignals() && windowIsAlive(mainDialog)) windowDestroy(mainDialog);
}

// What a fresh process starts with, so that every run starts alike.
void resetSharedValues() {
    mainDialog = nullptr;
    sourceFolder[0] = '\0';
    outputPath[0] = '\0';
    bitRateSelection.store(InitialBitRateSelection);
}

// The toolkit ends the process with exit() when the display goes away,
// from inside whatever loop runs. Ending normally would then wait for the
// worker's archive or on state the worker still uses: the process ends at
// once instead, the run's temporary output removed.
std::atomic<bool> programRunning{false};

void endAtOnceWhenLeftRunning() {
    if (!programRunning.load()) return;
    discardPendingOutputNow();
    std::_Exit(1);
}

// From when the toolkit is set up (so that the check runs before the
// toolkit's own and the program's static clean-up) until the program
// returns.
struct EndAtOnceOnExit {
    EndAtOnceOnExit() {
        static const bool registered = std::atexit(endAtOnceWhenLeftRunning) == 0;
        programRunning.store(registered);
    }
    ~EndAtOnceOnExit() { programRunning.store(false); }
    EndAtOnceOnExit(const EndAtOnceOnExit&) = delete;
    EndAtOnceOnExit& operator=(const EndAtOnceOnExit&) = delete;
};

}  // namespace

WindowProgramOptions defaultWindowProgramOptions() {
    return {sharedInstanceName(ApplicationName), loadEncoderLibrary};
}

int32_t runWindowProgram(int* argc, char** argv, const WindowProgramOptions& options) {
    // A closed standard output (the entry labels) or a file-size limit then
    // fails the write, which the run reports, instead of ending the process
    // in the middle of it.
    ignoreWriteSignals();
    SingleInstance* instance = nullptr;
    const InstanceClaim claim = claimSingleInstance(options.instanceName, &instance);
    if (claim == InstanceClaim::Another) return 0;
    if (claim == InstanceClaim::Unavailable) {
        std::fprintf(stderr, "%s: cannot hold the single-instance name; running anyway\n",
                     ApplicationName);
    }
    resetSharedValues();
    setDefaultOutputPath();
    if (!windowLayerInitialize(argc, argv)) {
        releaseSingleInstance(instance);
        return 1;
    }
    const EndAtOnceOnExit endAtOnceOnExit;
    if (options.loadEncoder() == 0) {
        // No window exists yet: the box has no owner.
        showWarning(MissingEncoderWarning);
        releaseSingleInstance(instance);
        return 0;
    }
    WindowHandle dialog = windowCreateDialog(&mainDialogTemplate, mainDialogProc);
    if (dialog == nullptr) {
        unloadEncoderLibrary();
        releaseSingleInstance(instance);
        return 0;
    }
    mainDialog = dialog;
    centreDialog(dialog);
    windowShow(dialog, ShowCommand::Show);

    ApplicationRun run{};
    if (!startWorker(dialog, &run)) {
        // Without the worker nothing could ever be converted.
        showWarning(NoWorkerWarning);
        windowDestroy(dialog);
        mainDialog = nullptr;
        unloadEncoderLibrary();
        releaseSingleInstance(instance);
        return 1;
    }
    const int32_t descriptor = singleInstanceDescriptor(instance);
    if (descriptor >= 0) windowWatchReadable(descriptor, comeForward, instance);
    const int32_t signals = catchStopSignals();
    if (signals >= 0) windowWatchReadable(signals, stopOnSignal, nullptr);

    const int32_t quitCode = windowRunMessageLoop();

    if (descriptor >= 0) windowUnwatch(descriptor);
    if (signals >= 0) windowUnwatch(signals);
    // The window is gone, so a new start must open a new one at once. The
    // run still being written only ever touches its own temporary file.
    releaseSingleInstance(instance);
    // The dialog is gone: the worker's calls to it fail at once, so it
    // finishes its archive, cleans up and ends without waiting on us. A
    // further stop signal meanwhile is caught and changes nothing.
    stopWorker(&run);
    releaseStopSignals();
    unloadEncoderLibrary();
    mainDialog = nullptr;
    return quitCode;
}
