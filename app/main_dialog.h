// The main dialog's procedure: the notification copies, browsing, and the
// start-or-cancel steps. Independent of any window-layer backend.
#pragma once

#include <cstdint>

#include "window/window_layer.h"

int32_t mainDialogProc(WindowHandle dialog, DialogMessage message, uint32_t param);
void fillDialogControls(WindowHandle dialog);
// 1 with a folder path ending in its separator in buffer, or 0 with buffer cleared.
// The browser opens at startAt (a folder or a path in one) when it exists.
int32_t browseForFolder(char* buffer, const char* startAt = "");
