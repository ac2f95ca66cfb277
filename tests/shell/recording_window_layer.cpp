#include "tests/shell/recording_window_layer.h"

std::vector<RecordedCall> recordedCalls;
MessageBoxAnswer recordedBoxAnswer = MessageBoxAnswer::Ok;

bool windowEnableItem(WindowHandle dialog, int32_t id, bool enable) {
    recordedCalls.push_back({"enable", dialog, id, enable ? 1 : 0, 0, ""});
    return true;
}

bool windowSetProgressRange(WindowHandle dialog, int32_t id, int32_t minimum, int32_t maximum) {
    recordedCalls.push_back({"range", dialog, id, minimum, maximum, ""});
    return true;
}

bool windowSetProgressPosition(WindowHandle dialog, int32_t id, int32_t position) {
    recordedCalls.push_back({"position", dialog, id, position, 0, ""});
    return true;
}

bool windowSetItemText(WindowHandle dialog, int32_t id, const char* text) {
    recordedCalls.push_back({"text", dialog, id, 0, 0, text});
    return true;
}

MessageBoxAnswer windowMessageBox(WindowHandle owner, const char* text, const char* caption,
                                  MessageBoxButtons buttons, MessageBoxIcon icon) {
    recordedCalls.push_back({"box", owner, 0, static_cast<int64_t>(buttons),
                             static_cast<int64_t>(icon), std::string(caption) + "|" + text});
    return recordedBoxAnswer;
}
