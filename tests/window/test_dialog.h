// A small dialog with one control of every kind, for the window layer's
// tests, and a procedure that records what it receives.
#pragma once

#include <cstdint>
#include <iterator>
#include <vector>

#include "window/window_layer.h"
#include "tests/window/window_test_hooks.h"

constexpr int32_t GoButton = 10;
constexpr int32_t NameEdit = 11;
constexpr int32_t OtherButton = 12;
constexpr int32_t Bar = 13;
constexpr int32_t Choices = 14;
constexpr int32_t Percent = 15;

inline constexpr ControlTemplate testControls[] = {
    {GoButton, ControlKind::DefaultPushButton, "Go", 100, 10, 50, 14, StyleTabStop},
    {NameEdit, ControlKind::Edit, "", 5, 10, 80, 12,
     StyleBorder | StyleAutoHorizontalScroll | StyleTabStop},
    {OtherButton, ControlKind::PushButton, "Other", 100, 30, 50, 14, StyleTabStop},
    {Bar, ControlKind::ProgressBar, "", 5, 50, 80, 8, StyleBorder},
    {Choices, ControlKind::DropDownList, "", 5, 65, 60, 80, StyleVerticalScroll | StyleTabStop},
    {Percent, ControlKind::Label, "0%", 90, 50, 15, 9, StyleRightAligned},
};

inline constexpr DialogTemplate testTemplate = {
    200, "Test", "ＭＳ Ｐゴシック", 9,
    160, 100,    testControls,      static_cast<int32_t>(std::size(testControls)),
    0,
};

struct TestDialogMessage {
    DialogMessage message;
    uint32_t param;
    bool onUserInterfaceThread;
};

// What testDialogProcedure received, in order.
inline std::vector<TestDialogMessage> testDialogMessages;

// Records every message; a Close destroys the dialog; Initialize answers 1
// (the first tab stop takes the focus).
inline int32_t testDialogProcedure(WindowHandle dialog, DialogMessage message, uint32_t param) {
    testDialogMessages.push_back({message, param, windowTestOnUserInterfaceThread()});
    if (message == DialogMessage::Close) windowDestroy(dialog);
    return message == DialogMessage::Initialize ? 1 : 0;
}

// The params of the Commands received, in order.
inline std::vector<uint32_t> testDialogCommands() {
    std::vector<uint32_t> commands;
    for (const TestDialogMessage& entry : testDialogMessages) {
        if (entry.message == DialogMessage::Command) commands.push_back(entry.param);
    }
    return commands;
}
