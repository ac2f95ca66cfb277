// How the conversion reports to the user: warnings, progress, inputs.
#pragma once

#include "window/window_layer.h"

// Warning box captioned with the application name, owned by mainDialog. When
// no box can be shown (no dialog loop serves) the text goes to standard error.
MessageBoxAnswer showWarning(const char* text);
// Bar position and percentage from convertedEntryCount / totalEntryCount.
void showProgress();
// Sets the bar's range for a run of totalEntryCount entries, position 0.
void startProgress(WindowHandle dialog);
// Controls 1000, 1002, 1001, 1003, 1005 in this order; never the start button.
void setInputsEnabled(WindowHandle dialog, bool enable);
