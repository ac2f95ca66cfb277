// Test access to the console backend: its dialog's title, visibility and
// list rows, the calls waiting, and the last message box shown. Any thread
// (the same rules as the item calls). Tests only.
#pragma once

#include <cstdint>

#include "platform/path_limits.h"
#include "window/console/console_window.h"
#include "tests/window/window_test_hooks.h"

// Quiet, no terminal, questions answered No, no entry labels taken in.
ConsoleWindowConfig consoleTestConfig();

inline bool consoleIsUserInterfaceThread() {
    return windowTestOnUserInterfaceThread();
}
inline int32_t consoleQueuedCallCount() {
    return windowTestQueuedCallCount();
}
inline bool consoleGetProgressRange(WindowHandle dialog, int32_t id, int32_t* minimum,
                                    int32_t* maximum) {
    return windowTestProgressRange(dialog, id, minimum, maximum);
}
int32_t consoleListRowCount(WindowHandle dialog, int32_t id);  // -1 on failure
// Text of a list row; its length or -1.
int32_t consoleListRowText(WindowHandle dialog, int32_t id, int32_t row, char* buffer,
                           int32_t capacity);
int32_t consoleGetTitle(WindowHandle dialog, char* buffer, int32_t capacity);  // length or -1
bool consoleIsVisible(WindowHandle dialog);

constexpr int32_t ConsoleRecordTextCapacity = 1024;

struct ConsoleMessageBoxRecord {
    int32_t count;  // message boxes shown since windowTestClearMessageBoxes
    WindowHandle owner;
    char text[ConsoleRecordTextCapacity];
    char caption[PathCapacity];
    MessageBoxButtons buttons;
    MessageBoxIcon icon;
};
// The last message box shown; false when none was.
bool consoleLastMessageBox(ConsoleMessageBoxRecord* record);
