#include "tests/window/window_test_hooks.h"

#include <mutex>

#include "window/window_core.h"

namespace {

std::mutex recordsMutex;
std::vector<MessageBoxRecord> records;
MessageBoxResponder responder;

MessageBoxAnswer recordBox(const windowcore::MessageBoxShown& box) {
    const MessageBoxRecord record{box.text, box.caption, box.buttons, box.icon, box.owner};
    MessageBoxResponder answer;
    {
        std::lock_guard<std::mutex> lock(recordsMutex);
        records.push_back(record);
        answer = responder;
    }
    return answer ? answer(record) : MessageBoxAnswer::Failed;
}

}  // namespace

bool windowTestOnUserInterfaceThread() {
    return windowcore::onUserInterfaceThread();
}

int32_t windowTestQueuedCallCount() {
    return windowcore::queuedCallCount();
}

bool windowTestQuitPending() {
    return windowcore::quitPending();
}

bool windowTestProgressRange(WindowHandle dialog, int32_t id, int32_t* minimum, int32_t* maximum) {
    bool found = false;
    windowcore::run(dialog, true, [&] {
        const WindowControl* bar = windowcore::findControl(dialog, id);
        if (bar == nullptr || bar->kind != ControlKind::ProgressBar) return;
        *minimum = bar->rangeMinimum;
        *maximum = bar->rangeMaximum;
        found = true;
    });
    return found;
}

void windowTestSetMessageBoxResponder(MessageBoxResponder chosen) {
    windowcore::setMessageBoxHook(recordBox);
    std::lock_guard<std::mutex> lock(recordsMutex);
    responder = std::move(chosen);
}

std::vector<MessageBoxRecord> windowTestMessageBoxes() {
    windowcore::setMessageBoxHook(recordBox);
    std::lock_guard<std::mutex> lock(recordsMutex);
    return records;
}

void windowTestClearMessageBoxes() {
    windowcore::setMessageBoxHook(recordBox);
    std::lock_guard<std::mutex> lock(recordsMutex);
    records.clear();
}
