#include "tests/shell/console_fixture.h"

#include "app/dialog_resource.h"

std::vector<ReceivedMessage> receivedMessages;
ProcedureBehaviour procedureBehaviour;

int32_t recordingProcedure(WindowHandle dialog, DialogMessage message, uint32_t param) {
    receivedMessages.push_back({message, param, consoleIsUserInterfaceThread()});
    switch (message) {
        case DialogMessage::Initialize:
            return 1;
        case DialogMessage::Command:
            return 0;
        case DialogMessage::Close:
            if (procedureBehaviour.destroyOnClose) windowDestroy(dialog);
            return 0;
        case DialogMessage::Destroy:
            if (procedureBehaviour.quitOnDestroy) windowPostQuit(procedureBehaviour.quitCode);
            return 0;
        case DialogMessage::DropPath:
            return 0;
    }
    return 0;
}

void ConsoleTest::SetUp() {
    receivedMessages.clear();
    procedureBehaviour = ProcedureBehaviour{};
    consoleConfigure(consoleTestConfig());
    windowTestClearMessageBoxes();
    ASSERT_TRUE(windowLayerInitialize(nullptr, nullptr));
}

void ConsoleTest::TearDown() {
    procedureBehaviour.quitOnDestroy = false;
    if (dialog != nullptr && windowIsAlive(dialog)) windowDestroy(dialog);
    windowLayerShutdown();
}

WindowHandle ConsoleTest::makeDialog() {
    dialog = windowCreateDialog(&mainDialogTemplate, recordingProcedure);
    return dialog;
}

std::string itemText(WindowHandle dialog, int32_t id) {
    char buffer[1024];
    if (windowGetItemText(dialog, id, buffer, sizeof buffer) < 0) return "<failed>";
    return buffer;
}
