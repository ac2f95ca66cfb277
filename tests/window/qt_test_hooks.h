// Test access to the Qt backend: answer message boxes and folder browsers
// automatically and record what they showed, reach a dialog's widgets, and
// serve the loop for a while. Tests only; user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/window/window_test_hooks.h"

class QDialog;
class QWidget;

inline void qtTestSetMessageBoxResponder(MessageBoxResponder responder) {
    windowTestSetMessageBoxResponder(std::move(responder));
}
inline std::vector<MessageBoxRecord> qtTestMessageBoxes() {
    return windowTestMessageBoxes();
}
inline void qtTestClearMessageBoxes() {
    windowTestClearMessageBoxes();
}
inline int32_t qtTestQueuedCallCount() {
    return windowTestQueuedCallCount();
}

struct FolderBrowserRecord {
    std::string title;
    WindowHandle owner;
    std::string startFolder;  // where it opened
};

// The folder to choose (an existing folder), or nullopt to cancel. Without a
// responder, browsers wait for a person.
typedef std::function<std::optional<std::string>(const FolderBrowserRecord&)>
    FolderBrowserResponder;
void qtTestSetFolderBrowserResponder(FolderBrowserResponder responder);
// Every browser shown since the last clear (while a responder was set).
std::vector<FolderBrowserRecord> qtTestFolderBrowsers();
void qtTestClearFolderBrowsers();

QDialog* qtTestDialogWidget(WindowHandle dialog);
// The widget of control id (QPushButton, QLineEdit, QLabel, QProgressBar or
// QComboBox), or null.
QWidget* qtTestItemWidget(WindowHandle dialog, int32_t id);
// The open message box or folder browser opened last, or null.
QWidget* qtTestOpenModal();

// Runs a serving loop (as the message loop does) until done() holds or
// timeoutMilliseconds pass; whether done() held.
bool qtTestServeUntil(const std::function<bool()>& done, int32_t timeoutMilliseconds);
