// A console window layer set up on the test's thread, which becomes the
// user-interface thread, with a dialog whose procedure records its messages.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "window/window_layer.h"
#include "tests/window/console_test_hooks.h"

struct ReceivedMessage {
    DialogMessage message;
    uint32_t param;
    bool onUserInterfaceThread;
};

// What the recording procedure does beyond recording.
struct ProcedureBehaviour {
    bool destroyOnClose = true;
    bool quitOnDestroy = true;
    int32_t quitCode = 0;
};

extern std::vector<ReceivedMessage> receivedMessages;
extern ProcedureBehaviour procedureBehaviour;

int32_t recordingProcedure(WindowHandle dialog, DialogMessage message, uint32_t param);

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates the dialog from the main dialog's template.
    WindowHandle makeDialog();

    WindowHandle dialog = nullptr;
};

std::string itemText(WindowHandle dialog, int32_t id);
