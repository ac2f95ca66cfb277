// A window layer that only records the calls the status services make, so
// tests can see their order and arguments.
#pragma once

#include <string>
#include <vector>

#include "window/window_layer.h"

struct RecordedCall {
    std::string what;  // "enable", "range", "position", "text", "box"
    WindowHandle dialog;
    int32_t id;
    int64_t first, second;
    std::string text;
};

extern std::vector<RecordedCall> recordedCalls;
// What windowMessageBox answers.
extern MessageBoxAnswer recordedBoxAnswer;
