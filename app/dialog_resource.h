// Dialog 129 and icon 133: the main dialog's control table.
#pragma once

#include "window/window_layer.h"

enum ControlId : int32_t {
    SourceFolderEdit = 1000,
    OutputPathEdit = 1001,
    BrowseSourceButton = 1002,
    BrowseOutputButton = 1003,
    ProgressBar = 1004,
    BitRateList = 1005,
    StartButton = 1006,
    PercentText = 1007,
    VersionLine = 1008,
};

constexpr int32_t MainDialogResourceId = 129;
constexpr int32_t ApplicationIconResourceId = 133;

extern const DialogTemplate mainDialogTemplate;

constexpr const char* StartCaption = "作成開始";
constexpr const char* CancelCaption = "中止";
