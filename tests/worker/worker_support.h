// Fixtures of the worker, dialog and vudconv tests: scratch folders, small
// source archives, the scan order of a folder, output archives read back,
// and a harness that runs the real dialog and worker over the console
// backend with the test's thread as the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/startup.h"
#include "archive/output_archive.h"
#include "window/window_layer.h"
#include "tests/support/temp_folder.h"
#include "tests/window/console_test_hooks.h"

// A source archive of entryCount entries of samples silent samples each,
// ids firstId, firstId + 1, ...; the entries' bytes are shared, so large
// counts stay cheap.
std::vector<uint8_t> sourceArchiveBytes(int32_t entryCount, size_t samples, uint16_t firstId = 1);
bool writeSourceArchiveFile(const std::string& path, int32_t entryCount, size_t samples = 2048,
                            uint16_t firstId = 1);
// The header of a source archive that claims no entries.
bool writeEmptySourceArchive(const std::string& path);

bool writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool pathExists(const std::string& path);  // links not followed
// The names of the temporary outputs ("*.incomplete-*") in folder.
std::vector<std::string> temporaryOutputs(const std::string& folder);

// The archive names of folder in the order the worker's walk meets them.
std::vector<std::string> scanOrder(const std::string& folder);

// The output archive read back and checked; false with the reason.
bool readOutput(const std::string& path, OutputArchiveLayout* layout, std::string* reason);

// Loads the recording fake encoder once per process and builds the decode tables.
void prepareFakeEncoder();

// Poll until condition() holds or timeoutMs pass; the final value of condition().
bool waitFor(const std::function<bool()>& condition, int32_t timeoutMs);

// The dialog and the worker as the window program runs them.
class DialogHarness {
public:
    // answer: what every Yes/No question is answered with; initialOutput:
    // the output path the dialog finds when it is created.
    explicit DialogHarness(MessageBoxAnswer answer = MessageBoxAnswer::Yes,
                           bool startWorkerThread = true, const std::string& initialOutput = "");
    ~DialogHarness();

    // Fills the dialog's fields as the user would (each change notifies).
    void setSource(const std::string& folder);
    void setOutput(const std::string& path);
    // A click on a button, as the dialog procedure receives it, at once.
    void click(int32_t id);
    // The same click, delivered inside the message loop when runUntil next
    // runs it. A run is started this way, so that the worker's first dialog
    // updates meet a loop that serves them.
    void post(int32_t id);
    void deliverPosted();  // from runUntil's loop

    // Runs the message loop until condition() holds (checked every
    // millisecond, after onTick when given) or timeoutMs pass; the final
    // value of condition().
    bool runUntil(const std::function<bool()>& condition, int32_t timeoutMs = 30000,
                  const std::function<void()>& onTick = nullptr);
    // Presses start (posted) and serves the loop until the run has ended.
    bool runToEnd(int32_t timeoutMs = 60000);

    // Destroys the dialog, quits the worker and waits for it; true when it
    // ended with its exit code 4. Safe to call twice.
    bool shutDown();

    std::string itemText(int32_t id);
    bool itemEnabled(int32_t id);
    bool inputsEnabled();   // all five inputs enabled
    bool inputsDisabled();  // all five inputs disabled
    ConsoleMessageBoxRecord lastBox();
    int32_t boxCount();

    WindowHandle dialog = nullptr;
    ApplicationRun run{};
    int32_t runsBefore = 0;
    // The questions asked, in order.
    std::vector<std::string> questions;
    MessageBoxAnswer answer;

private:
    std::vector<int32_t> posted_;
    bool shutDown_ = false;
    bool workerStarted_ = false;
};
