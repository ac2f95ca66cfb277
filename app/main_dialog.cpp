// The main dialog's procedure. It does no file or encoder work: it keeps the
// shared path texts and the bit-rate row in step with the controls, checks a
// start request and writes the start and cancel requests into the word.
#include "app/main_dialog.h"

#include <cstdio>
#include <cstring>

#include "app/dialog_resource.h"
#include "app/shell_state.h"
#include "app/status_services.h"
#include "app/version.h"
#include "encoder/encoder_library.h"
#include "encoder/entry_encoding.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_separator.h"
#include "worker/source_scan.h"
#include "worker/worker_state.h"

namespace {

constexpr const char* NoSourceWarning = "VUDデータの場所を指定してください.";
constexpr const char* NoOutputWarning = "作成データ出力先を指定してください.";
constexpr const char* SourceTooLongWarning =
    "VUDデータの場所が長すぎます.\n%dバイト以内で指定してください.";
constexpr const char* OutputTooLongWarning =
    "作成データ出力先が長すぎます.\n%dバイト以内で指定してください.";
constexpr const char* FolderTooLongWarning =
    "選択したフォルダのパスが長すぎます.\n%dバイト以内のフォルダを選択してください.";
constexpr const char* NotAFileWarning =
    "%s はファイルではありません.\n作成データ出力先にはファイルを指定してください.";
constexpr const char* OverwriteQuestion = "%s は既に存在しています.\n上書きしますか？";
constexpr const char* OverwriteCaption = "確認";
constexpr const char* BrowseTitle = "フォルダの選択";
constexpr int32_t LongestPath = PathCapacity - 1;

// A text too long for its buffer is remembered, so that the start request
// refuses it instead of using a cut path.
bool sourceFolderTooLong = false;
bool outputPathTooLong = false;

void storePath(const char* text, char* target, bool* tooLong) {
    size_t length = std::strlen(text);
    *tooLong = length > size_t{LongestPath};
    if (*tooLong) length = LongestPath;
    std::memcpy(target, text, length);
    target[length] = '\0';
}

void copyEditText(WindowHandle dialog, int32_t id, char* target, bool* tooLong) {
    // Read into a buffer with room to spare: a text that fills more than the
    // target's capacity is known to be too long, whatever the layer reports.
    char text[PathCapacity * 2];
    if (windowGetItemText(dialog, id, text, sizeof(text)) < 0) return;
    storePath(text, target, tooLong);
}

void warnTooLong(const char* format) {
    char message[MessageCapacity];
    std::snprintf(message, sizeof(message), format, static_cast<int>(LongestPath));
    showWarning(message);
}

void cancelRun(WindowHandle dialog) {
    windowEnableItem(dialog, StartButton, false);
    int32_t seen = WorkerRunning;
    if (workerState.compare_exchange_strong(seen, WorkerStopping)) return;
    // The run ended on its own meanwhile; its stop step restores the button
    // unless it has already done so.
    if (seen == WorkerIdle) windowEnableItem(dialog, StartButton, true);
}

void requestStart(WindowHandle dialog) {
    if (sourceFolder[0] == '\0') {
        showWarning(NoSourceWarning);
        return;
    }
    if (sourceFolderTooLong) {
        warnTooLong(SourceTooLongWarning);
        return;
    }
    if (outputPath[0] == '\0') {
        showWarning(NoOutputWarning);
        return;
    }
    if (outputPathTooLong) {
        warnTooLong(OutputTooLongWarning);
        return;
    }
    char message[MessageCapacity];
    const OutputPathState existing = inspectOutputPath(outputPath);
    if (existing == OutputPathState::NotRegular) {
        std::snprintf(message, sizeof(message), NotAFileWarning, outputPath);
        showWarning(message);
        return;
    }
    if (existing == OutputPathState::RegularFile &&
        outputNamesSourceArchive(sourceFolder, outputPath)) {
        std::snprintf(message, sizeof(message), OutputIsSourceWarning, outputPath);
        showWarning(message);
        return;
    }
    // Anything at the path is replaced by the run's output: a file the user
    // cannot read, or a link whose target does not exist yet, is asked about
    // as well.
    if (existing != OutputPathState::Absent) {
        char question[MessageCapacity];
        std::snprintf(question, sizeof(question), OverwriteQuestion, outputPath);
        MessageBoxAnswer answer = windowMessageBox(
            dialog, question, OverwriteCaption, MessageBoxButtons::YesNo, MessageBoxIcon::Warning);
        if (answer != MessageBoxAnswer::Yes) return;
    }
    setInputsEnabled(dialog, false);
    windowEnableItem(dialog, StartButton, false);
    // Taken only while no run exists: the previous run's output must be
    // closed and its deletion decided before a new run may begin.
    int32_t seen = WorkerIdle;
    if (workerState.compare_exchange_strong(seen, WorkerStartRequested)) return;
    setInputsEnabled(dialog, true);
    windowEnableItem(dialog, StartButton, true);
}

// The scan uses the source text as a plain prefix: a typed folder without
// its closing separator would end up in the name pattern and match nothing. Text
// that names no folder is left as typed.
void closeTypedFolder(WindowHandle dialog) {
    const size_t length = std::strlen(sourceFolder);
    if (length == 0 || sourceFolderTooLong || isPathSeparator(sourceFolder[length - 1])) return;
    if (!isFolder(sourceFolder)) return;
    char folder[PathCapacity + 1];
    std::snprintf(folder, sizeof(folder), "%s%s", sourceFolder, PathSeparatorText);
    // One byte too many for the buffer is refused at the start request.
    storePath(folder, sourceFolder, &sourceFolderTooLong);
    windowSetItemText(dialog, SourceFolderEdit, folder);
}

void startOrCancel(WindowHandle dialog) {
    int32_t state = workerState.load();
    if (state == WorkerRunning) {
        cancelRun(dialog);
        return;
    }
    // A press while the worker itself ends a run (the button still reads
    // "cancel") asks for nothing more: that run's stop step is under way.
    if (state != WorkerIdle) return;
    closeTypedFolder(dialog);
    requestStart(dialog);
}

// Shown whole, also when too long for its buffer: the start request refuses
// it then.
void showSourceFolder(WindowHandle dialog, const char* folder) {
    storePath(folder, sourceFolder, &sourceFolderTooLong);
    windowSetItemText(dialog, SourceFolderEdit, folder);
}

// The output field gets a file path as it is, a folder with the archive's
// default name.
void showOutputPath(WindowHandle dialog, const char* path, bool isFolderPath) {
    char text[PathCapacity * 2 + 16];
    std::snprintf(text, sizeof(text), "%s%s", path, isFolderPath ? DefaultOutputName : "");
    storePath(text, outputPath, &outputPathTooLong);
    windowSetItemText(dialog, OutputPathEdit, text);
}

void browseSource(WindowHandle dialog) {
    char folder[PathCapacity];
    if (browseForFolder(folder, sourceFolder) == 0) return;
    showSourceFolder(dialog, folder);
}

void browseOutput(WindowHandle dialog) {
    char folder[PathCapacity];
    if (browseForFolder(folder, outputPath) == 0) return;
    showOutputPath(dialog, folder, true);
}

// A dropped folder fills the source field, wherever it lands but on the
// output field; there a folder gets the archive's name and a file is taken
// as it is. Nothing is taken while the inputs are disabled (a run).
int32_t takeDroppedPath(WindowHandle dialog, int32_t target, bool released) {
    const int32_t field = target == OutputPathEdit ? OutputPathEdit : SourceFolderEdit;
    if (!windowIsItemEnabled(dialog, field)) return 0;
    char path[PathCapacity * 2];
    const int32_t length = windowGetDroppedPath(dialog, path, sizeof(path) - 1);
    if (length < 1) return 0;
    const bool folder = isFolder(path);
    if (field == SourceFolderEdit && !folder) return 0;
    if (!released) return 1;
    if (folder && !isPathSeparator(path[length - 1])) {
        path[length] = PathSeparator;
        path[length + 1] = '\0';
    }
    if (field == SourceFolderEdit) {
        showSourceFolder(dialog, path);
    } else {
        showOutputPath(dialog, path, folder);
    }
    return 1;
}

void handleCommand(WindowHandle dialog, uint32_t param) {
    int32_t id = commandId(param);
    if (commandCode(param) != NotifyClicked) {
        if (id == SourceFolderEdit) copyEditText(dialog, id, sourceFolder, &sourceFolderTooLong);
        if (id == OutputPathEdit) copyEditText(dialog, id, outputPath, &outputPathTooLong);
        if (id == BitRateList) {
            int32_t row = windowListGetSelection(dialog, id);
            if (row >= 0 && row < BitRateRowCount) bitRateSelection.store(row);
        }
        return;
    }
    if (id == BrowseSourceButton) browseSource(dialog);
    if (id == BrowseOutputButton) browseOutput(dialog);
    if (id == StartButton) startOrCancel(dialog);
}

}  // namespace

void fillDialogControls(WindowHandle dialog) {
    for (const BitRateRow& row : BitRateTable) windowListAddString(dialog, BitRateList, row.text);
    int32_t selection = bitRateSelection.load();
    if (selection >= 0 && selection < BitRateRowCount) {
        windowListSelectString(dialog, BitRateList, BitRateTable[selection].text);
    }
    windowSetItemText(dialog, OutputPathEdit, outputPath);
}

int32_t browseForFolder(char* buffer, const char* startAt) {
    // The start may be the buffer itself: copied before the buffer is cleared.
    char start[PathCapacity];
    std::snprintf(start, sizeof(start), "%s", startAt);
    // Cleared whole, so that every way of not choosing leaves no text behind.
    std::memset(buffer, 0, PathCapacity);
    // The browser's answer may be longer than the buffer; it is checked
    // before anything is copied.
    char chosen[PathCapacity * 2] = {};
    if (!windowBrowseForFolder(mainDialog, BrowseTitle, start, chosen, sizeof(chosen))) return 0;
    size_t length = std::strlen(chosen);
    if (length == 0) return 0;
    bool addSeparator = !isPathSeparator(chosen[length - 1]);
    if (length + (addSeparator ? 1 : 0) > size_t{LongestPath}) {
        warnTooLong(FolderTooLongWarning);
        return 0;
    }
    std::memcpy(buffer, chosen, length);
    if (addSeparator) buffer[length++] = PathSeparator;
    buffer[length] = '\0';
    return 1;
}

int32_t mainDialogProc(WindowHandle dialog, DialogMessage message, uint32_t param) {
    switch (message) {
        case DialogMessage::Initialize: {
            fillDialogControls(dialog);
            char text[MessageCapacity];
            std::snprintf(text, sizeof(text), "%s Ver.%s", ApplicationName, ApplicationVersion);
            windowSetTitle(dialog, text);
            const char* version = encoderVersionText();
            std::snprintf(text, sizeof(text), "GOGO.DLL %s", version == nullptr ? "" : version);
            windowSetItemText(dialog, VersionLine, text);
            return 1;
        }
        case DialogMessage::Command:
            handleCommand(dialog, param);
            return 0;
        case DialogMessage::Close:
            windowDestroy(dialog);
            return 0;
        case DialogMessage::Destroy:
            windowPostQuit(0);
            return 0;
        case DialogMessage::DropPath:
            return takeDroppedPath(dialog, commandId(param), commandCode(param) == DropReleased);
    }
    return 0;
}
