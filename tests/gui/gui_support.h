// Shared by the window program's tests: the Qt layer set up once per test
// program (offscreen), scratch folders, typing that works for Japanese, and
// access to the dialog's widgets.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "window/window_layer.h"
#include "tests/support/temp_folder.h"
#include "tests/window/qt_test_hooks.h"

class QLineEdit;
class QWidget;

bool fileExists(const std::string& path);
std::string readWholeFile(const std::string& path);
bool writeWholeFile(const std::string& path, const std::string& bytes);
// Copies every regular file of folder `from` into folder `to`.
bool copyFolderFiles(const std::string& from, const std::string& to);

std::string sourceTreePath(const char* relative);  // VUD_SOURCE_DIR
std::string buildTreePath(const char* relative);   // VUD_BUILD_DIR

// Replaces the field's text as a user would: select all, then an input
// method commits the text (QTest key clicks cannot type Japanese).
void typeIntoField(QLineEdit* field, const QString& text);

template <typename Widget>
Widget* itemWidget(WindowHandle dialog, int32_t id) {
    return dynamic_cast<Widget*>(qtTestItemWidget(dialog, id));
}
std::string itemText(WindowHandle dialog, int32_t id);

// Every message box gets this answer; Failed leaves boxes open.
void answerMessageBoxes(MessageBoxAnswer answer);
// A message box, as recorded, in one line for failure output.
std::string describeBox(const MessageBoxRecord& record);

// Serves the loop (worker calls are answered) until done() or timeout.
bool serveUntil(const std::function<bool()>& done, int32_t timeoutMilliseconds = 20000);

// While it lives, worker calls made between two serveUntil (say, the start
// step right after a click) wait to be served; without it they fail at once,
// as they do while no loop runs.
class ServingScope {
public:
    ServingScope();
    ~ServingScope();
    ServingScope(const ServingScope&) = delete;
    ServingScope& operator=(const ServingScope&) = delete;
};
