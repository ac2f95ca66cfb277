#include "tests/worker/worker_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/dialog_resource.h"
#include "app/main_dialog.h"
#include "app/shell_state.h"
#include "archive/block_decoder.h"
#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "platform/owned_file.h"
#include "tests/fake_encoder/fake_encoder.h"
#include "tools/source_writer/source_writer.h"
#include "worker/conversion_worker.h"
#include "worker/source_scan.h"
#include "worker/worker_state.h"

std::vector<uint8_t> sourceArchiveBytes(int32_t entryCount, size_t samples, uint16_t firstId) {
    std::vector<int16_t> pcm(samples);
    // A quiet ramp, so the blocks are coded rather than silent.
    for (size_t i = 0; i < samples; ++i) pcm[i] = static_cast<int16_t>((i % 64) * 16);
    EncodedEntry entry = encodeVoiceEntry(firstId, pcm.data(), pcm.size(), WriterOptions{});
    std::vector<EncodedEntry> entries(static_cast<size_t>(entryCount), entry);
    for (int32_t i = 0; i < entryCount; ++i) entries[i].id = static_cast<uint16_t>(firstId + i);
    return buildSourceArchive(entries, 22050).bytes;
}

bool writeSourceArchiveFile(const std::string& path, int32_t entryCount, size_t samples,
                            uint16_t firstId) {
    return writeBytesToFile(path, sourceArchiveBytes(entryCount, samples, firstId));
}

bool writeEmptySourceArchive(const std::string& path) {
    return writeBytesToFile(path, makeSourceHeader("VUDPAC", 0, 22050));
}

bool writeFile(const std::string& path, const std::string& bytes) {
    OwnedFile file = openFile(path.c_str(), "wb");
    if (!file) return false;
    return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

std::string readFile(const std::string& path) {
    std::string bytes;
    OwnedFile file = openFile(path.c_str(), "rb");
    if (!file) return bytes;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0) bytes.append(chunk, n);
    return bytes;
}

bool pathExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

std::vector<std::string> temporaryOutputs(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        if (name.find(".incomplete-") != std::string::npos) names.push_back(name);
    }
    return names;
}

std::vector<std::string> scanOrder(const std::string& folder) {
    std::vector<std::string> names;
    std::string pattern = folder + "*.VUD";
    for (const char* name = findFirstSourceArchive(pattern.c_str()); name != nullptr;
         name = findNextSourceArchive()) {
        names.emplace_back(name);
    }
    return names;
}

bool readOutput(const std::string& path, OutputArchiveLayout* layout, std::string* reason) {
    OwnedFile file = openFile(path.c_str(), "rb");
    if (!file) {
        *reason = "cannot open " + path;
        return false;
    }
    bool valid = readOutputArchive(file.get(), layout);
    *reason = layout->reason;
    return valid;
}

void prepareFakeEncoder() {
    static bool loaded = false;
    if (!loaded) {
        loaded = loadEncoderLibraryFrom(FAKE_ENCODER_LIBRARY_PATH) != 0;
        if (!loaded) {
            std::fprintf(stderr, "cannot load %s\n", FAKE_ENCODER_LIBRARY_PATH);
            std::abort();
        }
    }
    buildDecodeTables();
}

bool waitFor(const std::function<bool()>& condition, int32_t timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

namespace {

MessageBoxAnswer answerQuestion(const char* text, const char*, void* context) {
    DialogHarness* harness = static_cast<DialogHarness*>(context);
    harness->questions.emplace_back(text);
    return harness->answer;
}

struct LoopWait {
    const std::function<bool()>* condition;
    const std::function<void()>* onTick;
    std::chrono::steady_clock::time_point deadline;
    bool met;
    DialogHarness* harness;
};

void checkLoopWait(void* context) {
    LoopWait* wait = static_cast<LoopWait*>(context);
    wait->harness->deliverPosted();
    if (*wait->onTick) (*wait->onTick)();
    wait->met = (*wait->condition)();
    if (wait->met || std::chrono::steady_clock::now() >= wait->deadline) windowPostQuit(0);
}

const int32_t InputIds[] = {SourceFolderEdit, BrowseSourceButton, OutputPathEdit,
                            BrowseOutputButton, BitRateList};

}  // namespace

DialogHarness::DialogHarness(MessageBoxAnswer answerToQuestions, bool startWorkerThread,
                             const std::string& initialOutput)
    : answer(answerToQuestions) {
    prepareFakeEncoder();
    sourceFolder[0] = '\0';
    std::snprintf(outputPath, sizeof(outputPath), "%s", initialOutput.c_str());
    bitRateSelection.store(InitialBitRateSelection);
    workerState.store(WorkerIdle);
    setWorkerIdleWait(WorkerIdleWaitMilliseconds);

    ConsoleWindowConfig config = consoleTestConfig();
    config.questionHandler = answerQuestion;
    config.questionContext = this;
    consoleConfigure(config);
    windowTestClearMessageBoxes();
    windowLayerInitialize(nullptr, nullptr);

    dialog = windowCreateDialog(&mainDialogTemplate, mainDialogProc);
    mainDialog = dialog;
    runsBefore = finishedRunCount();
    if (startWorkerThread) workerStarted_ = startWorker(dialog, &run);
}

DialogHarness::~DialogHarness() {
    shutDown();
}

void DialogHarness::setSource(const std::string& folder) {
    windowSetItemText(dialog, SourceFolderEdit, folder.c_str());
}

void DialogHarness::setOutput(const std::string& path) {
    windowSetItemText(dialog, OutputPathEdit, path.c_str());
}

void DialogHarness::click(int32_t id) {
    mainDialogProc(dialog, DialogMessage::Command, commandParam(id, NotifyClicked));
}

void DialogHarness::post(int32_t id) {
    posted_.push_back(id);
}

void DialogHarness::deliverPosted() {
    std::vector<int32_t> clicks;
    clicks.swap(posted_);
    for (int32_t id : clicks) click(id);
}

bool DialogHarness::runUntil(const std::function<bool()>& condition, int32_t timeoutMs,
                             const std::function<void()>& onTick) {
    LoopWait wait{&condition, &onTick,
                  std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs), false,
                  this};
    if (condition()) return true;
    consoleSetLoopHook(checkLoopWait, &wait, 1);
    windowRunMessageLoop();
    consoleSetLoopHook(nullptr, nullptr, 1);
    return wait.met || condition();
}

bool DialogHarness::runToEnd(int32_t timeoutMs) {
    int32_t before = finishedRunCount();
    post(StartButton);
    return runUntil(
        [&] { return finishedRunCount() != before && workerState.load() == WorkerIdle; },
        timeoutMs);
}

bool DialogHarness::shutDown() {
    if (shutDown_) return true;
    shutDown_ = true;
    if (dialog != nullptr && windowIsAlive(dialog)) windowDestroy(dialog);
    // A worker held at the fake encoder's gate could never see the Quit.
    fakeEncoderRelease();
    bool ended = true;
    if (workerStarted_) ended = stopWorker(&run);
    windowLayerShutdown();
    mainDialog = nullptr;
    return ended;
}

std::string DialogHarness::itemText(int32_t id) {
    char text[ConsoleRecordTextCapacity];
    if (windowGetItemText(dialog, id, text, sizeof(text)) < 0) return "<no item>";
    return text;
}

bool DialogHarness::itemEnabled(int32_t id) {
    return windowIsItemEnabled(dialog, id);
}

bool DialogHarness::inputsEnabled() {
    for (int32_t id : InputIds) {
        if (!itemEnabled(id)) return false;
    }
    return true;
}

bool DialogHarness::inputsDisabled() {
    for (int32_t id : InputIds) {
        if (itemEnabled(id)) return false;
    }
    return true;
}

ConsoleMessageBoxRecord DialogHarness::lastBox() {
    ConsoleMessageBoxRecord record{};
    if (!consoleLastMessageBox(&record)) record = ConsoleMessageBoxRecord{};
    return record;
}

int32_t DialogHarness::boxCount() {
    return lastBox().count;
}
