// Test access to the Qt backend: answer message boxes and folder browsers
// automatically and record what they showed, reach a dialog's widgets, and
// serve the loop for a while. For tests only; user-interface thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/window_layer.h"

class QDialog;
class QWidget;

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    MessageBoxButtons buttons;
    MessageBoxIcon icon;
    WindowHandle owner;  // null for an ownerless box
};

// Chooses the answer of a box once it is shown; Failed leaves it open (a
// test may then end it otherwise, e.g. by destroying its owner). Without a
// responder, boxes wait for a person.
typedef std::function<MessageBoxAnswer(const MessageBoxRecord&)> MessageBoxResponder;
void qtTestSetMessageBoxResponder(MessageBoxResponder responder);
// Every box shown since the last clear, oldest first.
std::vector<MessageBoxRecord> qtTestMessageBoxes();
void qtTestClearMessageBoxes();

struct FolderBrowserRecord {
    std::string title;
    WindowHandle owner;
    std::string startFolder;  // where it opened
};

// The folder to choose (an existing folder), or nullopt to cancel.
typedef std::function<std::optional<std::string>(const FolderBrowserRecord&)>
    FolderBrowserResponder;
void qtTestSetFolderBrowserResponder(FolderBrowserResponder responder);
std::vector<FolderBrowserRecord> qtTestFolderBrowsers();
void qtTestClearFolderBrowsers();

QDialog* qtTestDialogWidget(WindowHandle dialog);
// The widget of control id (QPushButton, QLineEdit, QLabel, QProgressBar or
// QComboBox), or null.
QWidget* qtTestItemWidget(WindowHandle dialog, int32_t id);
// The open message box or folder browser opened last, or null.
QWidget* qtTestOpenModal();

// Calls from other threads waiting in the queue (not yet running).
int32_t qtTestQueuedCallCount();

// Runs a serving loop (as the message loop does) until done() holds or
// timeoutMilliseconds pass; whether done() held.
bool qtTestServeUntil(const std::function<bool()>& done, int32_t timeoutMilliseconds);
