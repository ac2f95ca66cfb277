// How the conversion reports to the user. The progress counters are 64-bit
// (archives may claim huge entry counts), while the bar takes 32-bit values:
// the bar's range and position are scaled down by the same power of two when
// the total does not fit, so the bar stays true to the counters.
#include "app/status_services.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "app/dialog_resource.h"
#include "app/shell_state.h"
#include "platform/console_text.h"
#include "worker/source_scan.h"

namespace {

int32_t progressShift(int64_t total) {
    int32_t shift = 0;
    while ((total >> shift) > INT32_MAX) shift += 1;
    return shift;
}

int32_t barValue(int64_t value, int32_t shift) {
    if (value < 0) return 0;
    int64_t scaled = value >> shift;
    return scaled > INT32_MAX ? INT32_MAX : static_cast<int32_t>(scaled);
}

// The percentage last shown by showProgress in this run (worker thread only).
WindowHandle shownDialog = nullptr;
int64_t shownPercent = -1;

}  // namespace

MessageBoxAnswer showWarning(const char* text) {
    if (text == nullptr) text = "";
    MessageBoxAnswer answer = windowMessageBox(mainDialog, text, ApplicationName,
                                               MessageBoxButtons::Ok, MessageBoxIcon::Warning);
    if (answer == MessageBoxAnswer::Failed) {
        // Nobody serves a dialog (it is gone or the loop has ended): the text
        // must still reach the user.
        consolePrint(stderr, "%s: %s\n", ApplicationName, text);
        std::fflush(stderr);
    }
    return answer;
}

void showProgress() {
    const int64_t total = totalEntryCount;
    const int64_t converted = convertedEntryCount;
    windowSetProgressPosition(mainDialog, ProgressBar, barValue(converted, progressShift(total)));
    int64_t percent = 0;
    if (total > 0) percent = converted * 100 / total;
    // Every call from the worker waits for the user-interface thread; a text
    // that would not change is not worth that wait.
    if (mainDialog == shownDialog && percent == shownPercent) return;
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 "%%", percent);
    if (!windowSetItemText(mainDialog, PercentText, text)) return;
    shownDialog = mainDialog;
    shownPercent = percent;
}

void startProgress(WindowHandle dialog) {
    shownDialog = nullptr;
    shownPercent = -1;
    const int64_t total = totalEntryCount;
    windowSetProgressRange(dialog, ProgressBar, 0, barValue(total, progressShift(total)));
    windowSetProgressPosition(dialog, ProgressBar, 0);
}

void setInputsEnabled(WindowHandle dialog, bool enable) {
    static const int32_t inputs[] = {SourceFolderEdit, BrowseSourceButton, OutputPathEdit,
                                     BrowseOutputButton, BitRateList};
    for (int32_t id : inputs) windowEnableItem(dialog, id, enable);
}
