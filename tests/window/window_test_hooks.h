// Test access to the window layer's core, whichever backend is linked: the
// user-interface thread, the calls handed over and waiting, a pending quit, a
// progress bar's range, and the message boxes shown. Boxes are recorded only
// once a test asks (the first call of a message-box function below); the
// programs never link this.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "window/window_layer.h"

bool windowTestOnUserInterfaceThread();
int32_t windowTestQueuedCallCount();
bool windowTestQuitPending();
bool windowTestProgressRange(WindowHandle dialog, int32_t id, int32_t* minimum, int32_t* maximum);

struct MessageBoxRecord {
    std::string text;
    std::string caption;
    MessageBoxButtons buttons;
    MessageBoxIcon icon;
    WindowHandle owner;  // null for an ownerless box
};

// Chooses the answer of a box once it is shown, in backends that show real
// boxes; Failed leaves it open (a test may then end it otherwise). Without a
// responder, such boxes wait for a person.
typedef std::function<MessageBoxAnswer(const MessageBoxRecord&)> MessageBoxResponder;
void windowTestSetMessageBoxResponder(MessageBoxResponder responder);
// Every box shown since the last clear, oldest first.
std::vector<MessageBoxRecord> windowTestMessageBoxes();
void windowTestClearMessageBoxes();
