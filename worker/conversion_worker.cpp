// The worker thread: waits for a start request, counts the source archives,
// creates the output as a temporary file beside the output path, converts the
// archives one per pass, and at the end finishes the output and puts it in
// place when the run completed, or removes it: the output path itself changes
// only once, when a complete output replaces it.
//
// The worker writes the shared word only by compare-and-exchange against the
// value it last read, so a Quit that start-up stores in between is never
// overwritten: the next pass sees it and ends the thread.
#include "worker/conversion_worker.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "app/dialog_resource.h"
#include "app/shell_state.h"
#include "app/status_services.h"
#include "archive/archive_conversion.h"
#include "archive/output_archive.h"
#include "encoder/encoder_pool.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/owned_file.h"
#include "platform/thread.h"
#include "worker/source_scan.h"
#include "worker/worker_state.h"

namespace {

constexpr const char* ArchiveFailedWarning = "ファイル %s の変換中に\nエラーが発生しました.";
constexpr const char* OutputNotCreatedWarning = "ファイル %s を\n作成できませんでした.";
constexpr const char* FolderChangedWarning =
    "フォルダ %s 内の\nVUDファイルが変換中に変更されました.";
constexpr const char* OutputWriteWarning = "ファイル %s の書き込み中に\nエラーが発生しました.";
constexpr uint32_t StepWaitMilliseconds = 1;

std::atomic<int32_t> lastOutcome{static_cast<int32_t>(RunOutcome::None)};
std::atomic<int32_t> finishedRuns{0};
std::atomic<uint32_t> idleWaitMilliseconds{WorkerIdleWaitMilliseconds};

struct WorkerRun {
    PendingOutput output;  // the temporary file; put in place only when complete
    std::unique_ptr<MasterIndexEntry[]> masterIndex;
    int32_t archiveCount = 0;
    int32_t archiveIndex = 0;
    int64_t outputOffset = 0;
    const char* currentName = nullptr;
    bool runCompleted = false;
    // Beyond the run record: what the front ends and the output need.
    // The run's own copy of the output path: the dialog's text may change
    // once the stop step has enabled the inputs again.
    char outputPath[PathCapacity] = {};
    bool requestTaken = false;  // a start request was taken and its end not yet recorded
    bool writeFailed = false;   // some byte meant for the output did not reach it
    RunOutcome stopReason = RunOutcome::None;  // set when the worker itself ends the run
};

// Stores desired only while the word still holds expected, so a Quit stored
// meanwhile is kept.
void exchangeOwnState(std::atomic<int32_t>* word, int32_t expected, int32_t desired) {
    word->compare_exchange_strong(expected, desired);
}

void warnWithPath(const char* format, const char* path) {
    char message[MessageCapacity];
    std::snprintf(message, sizeof(message), format, path);
    showWarning(message);
}

// Header and master index at the start of the file. false when any of it
// failed.
bool finishOutput(WorkerRun* run) {
    std::FILE* output = run->output.stream.get();
    bool written = seekFile(output, 0, SEEK_SET) &&
                   writeOutputHeader(output, static_cast<uint32_t>(run->archiveCount));
    if (written && run->masterIndex) {
        written = writeMasterIndex(output, run->masterIndex.get(),
                                   static_cast<uint32_t>(run->archiveCount));
    }
    return written && std::ferror(output) == 0;
}

void recordOutcome(RunOutcome outcome) {
    lastOutcome.store(static_cast<int32_t>(outcome));
    finishedRuns.fetch_add(1);
}

RunOutcome outcomeOf(const WorkerRun& run, int32_t state) {
    if (run.writeFailed) return RunOutcome::WriteFailed;
    if (run.stopReason != RunOutcome::None) return run.stopReason;
    if (run.runCompleted) return RunOutcome::Completed;
    if (state == WorkerQuit) return RunOutcome::Quit;
    return RunOutcome::Cancelled;
}

// A start step that ends before a run could begin.
void abandonStart(WorkerRun* run, WindowHandle dialog, std::atomic<int32_t>* word,
                  RunOutcome reason) {
    run->stopReason = reason;
    exchangeOwnState(word, WorkerStartRequested, WorkerStopping);
    windowEnableItem(dialog, StartButton, true);
}

// The program is closing while the helpers load: no run follows.
bool quitRequested(void* context) {
    return static_cast<std::atomic<int32_t>*>(context)->load() == WorkerQuit;
}

// With more than one encoder, the run's helpers; without them the run
// encodes in this process, as with one.
void startEncoders(std::atomic<int32_t>* word) {
    const int32_t jobs = encoderJobCount();
    if (jobs <= 1 || encoderPoolStart(jobs, quitRequested, word)) return;
    if (quitRequested(word)) return;
    consolePrint(stderr,
                 "%s: the encoder helpers (%s) could not be started; encoding in this "
                 "process\n",
                 ApplicationName, EncoderHelperFileName);
    std::fflush(stderr);
}

void startStep(WorkerRun* run, WindowHandle dialog, std::atomic<int32_t>* word) {
    run->requestTaken = true;
    run->writeFailed = false;
    run->stopReason = RunOutcome::None;
    std::memcpy(run->outputPath, outputPath, sizeof run->outputPath);

    run->archiveCount = countSourceArchives(sourceFolder);
    if (run->archiveCount <= 0) {
        run->archiveCount = 0;
        warnWithPath(NoArchivesWarning, sourceFolder);
        setInputsEnabled(dialog, true);
        abandonStart(run, dialog, word, RunOutcome::NoArchives);
        return;
    }

    startProgress(dialog);
    windowSetItemText(dialog, StartButton, CancelCaption);

    run->archiveIndex = 0;
    run->outputOffset = 0;
    run->runCompleted = false;

    char pattern[PathCapacity + 8];
    std::snprintf(pattern, sizeof(pattern), "%s%s", sourceFolder, SourcePatternSuffix);
    run->currentName = findFirstSourceArchive(pattern);

    run->masterIndex.reset(new (std::nothrow) MasterIndexEntry[run->archiveCount]());
    if (!run->masterIndex) {
        abandonStart(run, dialog, word, RunOutcome::Failed);
        return;
    }

    // The one check that needs the folder: renaming the finished output over
    // an archive of the run would destroy it.
    if (outputNamesSourceArchive(sourceFolder, run->outputPath)) {
        warnWithPath(OutputIsSourceWarning, run->outputPath);
        setInputsEnabled(dialog, true);
        abandonStart(run, dialog, word, RunOutcome::Refused);
        return;
    }

    if (!beginOutput(run->outputPath, &run->output)) {
        warnWithPath(OutputNotCreatedWarning, run->outputPath);
        abandonStart(run, dialog, word, RunOutcome::OutputNotCreated);
        return;
    }
    int32_t next = WorkerRunning;
    if (!writeOutputPlaceholders(run->output.stream.get(),
                                 static_cast<uint32_t>(run->archiveCount))) {
        run->writeFailed = true;
        next = WorkerStopping;
    }
    run->outputOffset = OutputHeaderSize + int64_t{MasterIndexEntrySize} * run->archiveCount;
    startEncoders(word);
    exchangeOwnState(word, WorkerStartRequested, next);
    windowEnableItem(dialog, StartButton, true);
}

void convertStep(WorkerRun* run, std::atomic<int32_t>* word) {
    if (run->currentName == nullptr) {
        // Fewer archives than counted (one vanished from the folder) would
        // leave empty records in the index of a file kept as complete.
        if (run->archiveIndex < run->archiveCount) {
            warnWithPath(FolderChangedWarning, sourceFolder);
            run->stopReason = RunOutcome::Failed;
        } else {
            run->runCompleted = true;
        }
        exchangeOwnState(word, WorkerRunning, WorkerStopping);
        sleepMilliseconds(StepWaitMilliseconds);
        return;
    }
    // An archive that appeared after the count has no slot in the index.
    int32_t blockSize = 0;
    if (run->archiveIndex < run->archiveCount && run->outputOffset < OutputArchiveLimit) {
        blockSize = convertSourceArchive(run->currentName, run->output.stream.get(),
                                         static_cast<int32_t>(run->outputOffset),
                                         run->masterIndex.get(), run->archiveIndex);
    }
    if (blockSize >= 1) {
        run->archiveIndex += 1;
        run->outputOffset += blockSize;
        sleepMilliseconds(StepWaitMilliseconds);
        return;
    }
    if (std::ferror(run->output.stream.get()) != 0) {
        // The archive was fine; the output could not take it. Reported once
        // the output is closed.
        run->writeFailed = true;
    } else {
        warnWithPath(ArchiveFailedWarning, run->currentName);
        run->stopReason = RunOutcome::Failed;
    }
    exchangeOwnState(word, WorkerRunning, WorkerStopping);
    sleepMilliseconds(StepWaitMilliseconds);
}

// Returns true when the thread is to end (the word held Quit).
bool stopStep(WorkerRun* run, WindowHandle dialog, std::atomic<int32_t>* word) {
    // The helpers end with the run.
    encoderPoolStop();
    bool closedOutput = false;
    if (run->output.stream) {
        if (!finishOutput(run)) run->writeFailed = true;
        // Only a complete output replaces what stood at the path; any other
        // end removes the temporary file and leaves the path as it was.
        if (run->runCompleted && !run->writeFailed) {
            if (!commitOutput(&run->output)) run->writeFailed = true;
        } else {
            discardOutput(&run->output);
        }
        closedOutput = true;
    }
    if (run->masterIndex) {
        run->masterIndex.reset();
        run->archiveCount = 0;
    }

    int32_t state = word->load();
    if (state == WorkerStopping || state == WorkerQuit) {
        setInputsEnabled(dialog, true);
        windowSetItemText(dialog, StartButton, StartCaption);
        windowEnableItem(dialog, StartButton, true);
        if (closedOutput && run->writeFailed) warnWithPath(OutputWriteWarning, run->outputPath);
        if (run->requestTaken) {
            recordOutcome(outcomeOf(*run, state));
            run->requestTaken = false;
        }
        run->runCompleted = false;
        run->writeFailed = false;
        run->stopReason = RunOutcome::None;
        if (state == WorkerQuit) return true;
        // A Quit stored meanwhile stays; the next pass ends the thread.
        exchangeOwnState(word, state, WorkerIdle);
    }
    sleepMilliseconds(StepWaitMilliseconds);
    return false;
}

}  // namespace

const char* runOutcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::None:
            return "none";
        case RunOutcome::Completed:
            return "completed";
        case RunOutcome::NoArchives:
            return "no archives";
        case RunOutcome::OutputNotCreated:
            return "output not created";
        case RunOutcome::Refused:
            return "refused";
        case RunOutcome::Failed:
            return "failed";
        case RunOutcome::WriteFailed:
            return "write failed";
        case RunOutcome::Cancelled:
            return "cancelled";
        case RunOutcome::Quit:
            return "quit";
    }
    return "unknown";
}

RunOutcome lastRunOutcome() {
    return static_cast<RunOutcome>(lastOutcome.load());
}

int32_t finishedRunCount() {
    return finishedRuns.load();
}

void setWorkerIdleWait(uint32_t milliseconds) {
    idleWaitMilliseconds.store(milliseconds);
}

int32_t conversionWorker(WorkerContext* context) {
    const WindowHandle dialog = context->dialog;
    std::atomic<int32_t>* const word = context->stateWord;
    WorkerRun run;

    for (;;) {
        int32_t state = word->load();
        if (state == WorkerIdle) {
            sleepMilliseconds(idleWaitMilliseconds.load());
            continue;
        }
        if (state == WorkerStartRequested) {
            startStep(&run, dialog, word);
        } else if (state == WorkerRunning) {
            run.currentName = findNextSourceArchive();
        }

        // Only a run whose output is open is converted; any other value
        // (Idle, Stopping, Quit) ends or tidies up.
        state = word->load();
        if (state == WorkerRunning && run.output.stream) {
            convertStep(&run, word);
        } else if (stopStep(&run, dialog, word)) {
            return WorkerExitCode;
        }
    }
}
