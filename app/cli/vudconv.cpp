// vudconv: the command-line front end. It starts like the window program
// (encoder library, dialog, decode tables, the one worker), fills the
// dialog's fields, presses its start button through the dialog procedure
// (so the same checks and the same overwrite question apply), follows the
// run, and shuts down as the window program does.
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "app/cli/command_line.h"
#include "app/dialog_resource.h"
#include "app/main_dialog.h"
#include "app/shell_state.h"
#include "app/startup.h"
#include "app/version.h"
#include "archive/block_decoder.h"
#include "encoder/encoder_library.h"
#include "encoder/encoder_pool.h"
#include "encoder/entry_encoding.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/install_layout.h"
#include "platform/path_separator.h"
#include "platform/process.h"
#include "platform/program_arguments.h"
#include "platform/stop_signals.h"
#include "window/console/console_window.h"
#include "window/window_layer.h"
#include "worker/conversion_worker.h"
#include "worker/source_check.h"
#include "worker/source_scan.h"
#include "worker/worker_state.h"

namespace {

constexpr const char* ProgramName = "vudconv";
// The first pass of the loop presses the start button; later passes follow
// the run.
constexpr uint32_t PressIntervalMilliseconds = 1;
constexpr uint32_t FollowIntervalMilliseconds = 5;
// vudconv runs exactly one conversion: its worker idles only for the moment
// before the press and after the run, so it may look at the word often.
constexpr uint32_t CliWorkerIdleWaitMilliseconds = 1;

// The number of the stop signal that came, or 0.
std::atomic<int32_t> stopSignal{0};
static_assert(std::atomic<int32_t>::is_always_lock_free);

// What a second stop signal writes on its way out; chosen before the handler
// is installed, as the handler itself may only write. On a terminal it
// first wipes the progress line it interrupts.
const char* endNowMessage = nullptr;
constexpr const char* EndNowTerminalMessage =
    "\r\033[Kvudconv: interrupted again: stopped at once, the incomplete output deleted\n";
constexpr const char* EndNowPlainMessage =
    "vudconv: interrupted again: stopped at once, the incomplete output deleted\n";

// The signal also makes the stop descriptor readable: the loop wakes and
// runs followRun at once, and a pending terminal question ends with No.
void onStopSignal(int32_t signalNumber) {
    int32_t none = 0;
    if (!stopSignal.compare_exchange_strong(none, signalNumber)) {
        // A second stop while the first waits for the archive in progress:
        // the user wants out now. Only the run's temporary file goes; what
        // stood at OUTPUT before the run stays as it was.
        discardPendingOutputNow();
        endEncoderHelpersNow();
        endProcessFromSignal(endNowMessage, 128 + signalNumber);
    }
}

struct FollowState {
    WindowHandle dialog;
    int32_t runsBefore;
    bool pressed;
    bool accepted;
    bool cancelPressed;
    bool closing;
};

void pressStartButton(WindowHandle dialog) {
    mainDialogProc(dialog, DialogMessage::Command, commandParam(StartButton, NotifyClicked));
}

void closeDialog(FollowState* state) {
    state->closing = true;
    mainDialogProc(state->dialog, DialogMessage::Close, 0);
}

// Runs on the user-interface thread inside the message loop, so the worker's
// calls are served while the start button is pressed.
void followRun(void* context) {
    FollowState* state = static_cast<FollowState*>(context);
    takeStopSignals();
    if (state->closing) return;
    if (!state->pressed) {
        state->pressed = true;
        consoleSetLoopHook(followRun, state, FollowIntervalMilliseconds);
        pressStartButton(state->dialog);
        state->accepted =
            workerState.load() != WorkerIdle || finishedRunCount() != state->runsBefore;
        if (!state->accepted) closeDialog(state);
        return;
    }
    if (finishedRunCount() != state->runsBefore) {
        closeDialog(state);
        return;
    }
    // The press cancels only a run under way; while the worker is still
    // starting the next pass tries again.
    if (stopSignal != 0 && !state->cancelPressed && workerState.load() == WorkerRunning) {
        state->cancelPressed = true;
        windowMessageBox(state->dialog,
                         "interrupted: finishing the archive in progress, then deleting the "
                         "incomplete output (interrupt again to stop at once)",
                         ProgramName, MessageBoxButtons::Ok, MessageBoxIcon::Information);
        pressStartButton(state->dialog);
    }
}

// The progress line's speed: audio converted per second of the run.
int64_t audioMillisecondsConverted() {
    return convertedAudioMilliseconds.load();
}

int32_t exitCodeFor(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Completed:
            return ExitCompleted;
        case RunOutcome::NoArchives:
            return ExitNoArchives;
        case RunOutcome::Cancelled:
            return stopSignal != 0 ? 128 + stopSignal : ExitInterrupted;
        case RunOutcome::Refused:
            return ExitRefused;
        case RunOutcome::None:
        case RunOutcome::OutputNotCreated:
        case RunOutcome::Failed:
        case RunOutcome::WriteFailed:
        case RunOutcome::Quit:
            return ExitFailed;
    }
    return ExitFailed;
}

// The window program's warning, then where the library was looked for: in
// the library folder the build names (when it is not the program's own), then
// as the library search goes on.
void reportMissingEncoder() {
    char folder[PlatformPathCapacity] = "";
    if (LibraryFolderFromPrograms[0] == '\0' ||
        !programRelativePath(LibraryFolderFromPrograms, "", folder, sizeof folder)) {
        folder[0] = '\0';
    }
    consolePrint(stderr,
                 "%s: %s\n%s: the encoder library %s could not be loaded (looked %s%s%sbeside "
                 "the program, in the library search path and in the registry folders)\n",
                 ApplicationName, MissingEncoderWarning, ProgramName, EncoderLibraryFileName,
                 folder[0] != '\0' ? "in " : "", folder, folder[0] != '\0' ? ", " : "");
}

int32_t printVersion() {
    if (loadEncoderLibrary() == 0) {
        reportMissingEncoder();
        return ExitNoEncoder;
    }
    consolePrint(stdout, "%s (%s) %s\n%s %s\n", ProgramName, ApplicationName, ApplicationVersion,
                 EncoderLibraryFileName, encoderVersionText());
    unloadEncoderLibrary();
    return ExitCompleted;
}

// The folder names a folder: it gets its closing separator (empty stays empty, for
// the dialog to refuse).
std::unique_ptr<char[]> folderText(const char* folder) {
    size_t length = std::strlen(folder);
    std::unique_ptr<char[]> text(new (std::nothrow) char[length + 2]);
    if (!text) return text;
    std::memcpy(text.get(), folder, length + 1);
    if (length > 0 && !isPathSeparator(folder[length - 1])) {
        text[length] = PathSeparator;
        text[length + 1] = '\0';
    }
    return text;
}

void fillFields(WindowHandle dialog, const CommandLine& line, const char* folder) {
    windowSetItemText(dialog, SourceFolderEdit, folder);
    if (line.outputPath != nullptr) {
        windowSetItemText(dialog, OutputPathEdit, line.outputPath);
    } else {
        // The window program's default: a copy, as setting the field rewrites outputPath.
        char defaultOutput[PathCapacity];
        std::snprintf(defaultOutput, sizeof defaultOutput, "%s",
                      setDefaultOutputPath() ? outputPath : DefaultOutputName);
        windowSetItemText(dialog, OutputPathEdit, defaultOutput);
    }
    windowListSelectString(dialog, BitRateList, BitRateTable[line.bitRateRow].text);
    // A selection made by the program sends no notification; the user's would.
    mainDialogProc(dialog, DialogMessage::Command, commandParam(BitRateList, NotifyListSelChanged));
}

// A SOURCE_FOLDER that is no folder at all is a usage error, not a folder
// without archives. An empty or too long one is left to the dialog, which
// refuses it with its own warning.
bool sourceFolderUsable(const char* folder) {
    if (folder[0] == '\0' || std::strlen(folder) >= size_t{PathCapacity}) return true;
    switch (inspectFolder(folder)) {
        case FolderState::Folder:
        case FolderState::Unknown:
            return true;
        case FolderState::Absent:
            consolePrint(stderr, "%s: SOURCE_FOLDER %s: no such folder\n", ProgramName, folder);
            return false;
        case FolderState::NotFolder:
            consolePrint(stderr, "%s: SOURCE_FOLDER %s: not a folder\n", ProgramName, folder);
            return false;
    }
    return true;
}

// Creates the dialog and the worker, runs one conversion, shuts down.
int32_t convert(const CommandLine& line) {
    if (!sourceFolderUsable(line.sourceFolder)) return ExitRefused;
    std::unique_ptr<char[]> folder = folderText(line.sourceFolder);
    if (!folder) {
        consolePrint(stderr, "%s: out of memory\n", ProgramName);
        return ExitFailed;
    }
    if (!windowLayerInitialize(nullptr, nullptr)) {
        consolePrint(stderr, "%s: the console could not be set up\n", ProgramName);
        return ExitFailed;
    }
    ConsoleWindowConfig config = consoleDefaultConfig();
    config.quiet = line.quiet;
    // The percentage is taken from the bar itself, so the two never disagree
    // on a line drawn between the two updates of one entry.
    config.percentTextId = ControlIdNone;
    config.audioMillisecondsDone = audioMillisecondsConverted;
    if (line.overwrite) {
        config.askOnTerminal = false;
        config.presetAnswer = MessageBoxAnswer::Yes;
    }
    consoleConfigure(config);
    endNowMessage =
        config.progressOnTerminal && !config.quiet ? EndNowTerminalMessage : EndNowPlainMessage;

    if (loadEncoderLibrary() == 0) {
        reportMissingEncoder();
        windowLayerShutdown();
        return ExitNoEncoder;
    }

    WindowHandle dialog = windowCreateDialog(&mainDialogTemplate, mainDialogProc);
    if (dialog == nullptr) {
        consolePrint(stderr, "%s: the dialog could not be created\n", ProgramName);
        unloadEncoderLibrary();
        windowLayerShutdown();
        return ExitFailed;
    }
    mainDialog = dialog;

    // The worker inherits a mask without the stop signals, so they reach the
    // user-interface thread and never interrupt a write of the worker.
    blockStopSignals();
    ApplicationRun run{};
    setWorkerIdleWait(CliWorkerIdleWaitMilliseconds);
    bool workerStarted = startWorker(dialog, &run);
    unblockStopSignals();
    if (!workerStarted) {
        consolePrint(stderr, "%s: the worker thread could not be started\n", ProgramName);
        windowDestroy(dialog);
        unloadEncoderLibrary();
        windowLayerShutdown();
        return ExitFailed;
    }
    consoleSetWakeDescriptor(installStopSignalHandler(onStopSignal));

    setEncoderJobCount(line.encoderJobs > 0 ? line.encoderJobs : defaultEncoderJobCount());
    fillFields(dialog, line, folder.get());
    FollowState state{dialog, finishedRunCount(), false, false, false, false};
    consoleSetLoopHook(followRun, &state, PressIntervalMilliseconds);
    windowRunMessageLoop();
    consoleSetLoopHook(nullptr, nullptr, FollowIntervalMilliseconds);
    if (windowIsAlive(dialog)) windowDestroy(dialog);

    bool workerEnded = stopWorker(&run);
    unloadEncoderLibrary();
    windowLayerShutdown();
    if (!workerEnded) {
        consolePrint(stderr, "%s: the worker did not end as expected\n", ProgramName);
        return ExitFailed;
    }
    if (!state.accepted) return stopSignal != 0 ? 128 + stopSignal : ExitRefused;
    int32_t code = exitCodeFor(lastRunOutcome());
    if (lastRunOutcome() == RunOutcome::Cancelled)
        consolePrint(stderr, "%s: cancelled\n", ProgramName);
    return code;
}

// One line per archive a run would stop at: its name and why.
void printArchiveProblem(const char* name, const ArchiveCheck& check, void*) {
    char reason[160];
    describeArchiveProblem(check, reason, sizeof reason);
    consolePrint(stdout, "%s: %s\n", name, reason);
}

// Reads the folder as a run would, without the encoder library, the dialog
// or the worker, and writes nothing.
int32_t checkFolder(const CommandLine& line) {
    if (!sourceFolderUsable(line.sourceFolder)) return ExitRefused;
    if (line.sourceFolder[0] == '\0' || std::strlen(line.sourceFolder) >= size_t{PathCapacity}) {
        consolePrint(stderr, "%s: SOURCE_FOLDER is empty or longer than %d bytes\n", ProgramName,
                     static_cast<int>(PathCapacity - 1));
        return ExitRefused;
    }
    std::unique_ptr<char[]> folder = folderText(line.sourceFolder);
    if (!folder) {
        consolePrint(stderr, "%s: out of memory\n", ProgramName);
        return ExitFailed;
    }
    buildDecodeTables();
    const SourceFolderCheck check = checkSourceFolder(folder.get(), printArchiveProblem, nullptr);
    if (check.countedArchives == 0) {
        char message[MessageCapacity];
        std::snprintf(message, sizeof message, NoArchivesWarning, folder.get());
        consolePrint(stderr, "%s: %s\n", ApplicationName, message);
        return ExitNoArchives;
    }
    const int64_t seconds = check.audioMilliseconds / 1000;
    consolePrint(stdout,
                 "%" PRId32 " archives, %" PRId64 " entries, %" PRId64 ":%02" PRId64 ":%02" PRId64
                 " of audio: ",
                 check.walkedArchives, check.entries, seconds / 3600, seconds / 60 % 60,
                 seconds % 60);
    if (check.stoppingArchives == 0) {
        consolePrint(stdout, "a run would convert every archive\n");
        return ExitCompleted;
    }
    consolePrint(stdout, "%" PRId32 " archive(s) would stop a run; it would stop at %s\n",
                 check.stoppingArchives, check.firstStopping);
    return ExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    utf8ProgramArguments(&argc, &argv);
    ignoreWriteSignals();
    keepFreedMemoryForReuse();
    CommandLine line{};
    char error[256];
    if (!parseCommandLine(argc, argv, &line, error, sizeof(error))) {
        consolePrint(stderr, "%s: %s\n(%s --help shows the usage)\n", ProgramName, error,
                     ProgramName);
        return ExitRefused;
    }
    if (line.help) {
        consolePuts(stdout, cliUsageText());
        return ExitCompleted;
    }
    if (line.version) return printVersion();
    if (line.check) return checkFolder(line);
    return convert(line);
}
