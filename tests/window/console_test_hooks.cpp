#include "tests/window/console_test_hooks.h"

#include "window/console/console_state.h"

namespace {

// result = read(list) for list id of a live dialog, on the user-interface
// thread; -1 otherwise.
template <typename Read>
int32_t readList(WindowHandle dialog, int32_t id, Read read) {
    int32_t result = -1;
    windowcore::run(dialog, true, [&] {
        const WindowControl* list = windowcore::findControl(dialog, id);
        if (list != nullptr && list->kind == ControlKind::DropDownList)
            result = read(*list->native);
    });
    return result;
}

}  // namespace

ConsoleWindowConfig consoleTestConfig() {
    ConsoleWindowConfig config = consoleDefaultConfig();
    config.quiet = true;
    config.progressOnTerminal = false;
    config.askOnTerminal = false;
    config.presetAnswer = MessageBoxAnswer::No;
    config.mergeEntryLabels = false;
    return config;
}

int32_t consoleListRowCount(WindowHandle dialog, int32_t id) {
    return readList(dialog, id, [](const NativeControl& list) { return list.rowCount; });
}

int32_t consoleListRowText(WindowHandle dialog, int32_t id, int32_t row, char* buffer,
                           int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return -1;
    return readList(dialog, id, [&](const NativeControl& list) {
        if (row < 0 || row >= list.rowCount) return -1;
        return windowcore::copyText(buffer, capacity, list.rows[row]);
    });
}

int32_t consoleGetTitle(WindowHandle dialog, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return -1;
    int32_t length = -1;
    windowcore::run(dialog, true, [&] {
        length = windowcore::copyText(buffer, capacity, dialog->native->title);
    });
    return length;
}

bool consoleIsVisible(WindowHandle dialog) {
    bool visible = false;
    windowcore::run(dialog, true, [&] { visible = dialog->native->visible; });
    return visible;
}

bool consoleLastMessageBox(ConsoleMessageBoxRecord* record) {
    const std::vector<MessageBoxRecord> boxes = windowTestMessageBoxes();
    if (record == nullptr || boxes.empty()) return false;
    const MessageBoxRecord& last = boxes.back();
    record->count = static_cast<int32_t>(boxes.size());
    record->owner = last.owner;
    windowcore::copyText(record->text, ConsoleRecordTextCapacity, last.text.c_str());
    windowcore::copyText(record->caption, PathCapacity, last.caption.c_str());
    record->buttons = last.buttons;
    record->icon = last.icon;
    return true;
}
