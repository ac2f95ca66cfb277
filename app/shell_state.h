// Values the start-up code, the dialog and the conversion share.
#pragma once

#include "platform/path_limits.h"
#include "platform/window_layer.h"

extern WindowHandle mainDialog;
// Folder used as a plain prefix; typed text is used as typed.
extern char sourceFolder[PathCapacity];
extern char outputPath[PathCapacity];

constexpr const char* ApplicationName = "VUD Data Converter";
constexpr const char* DefaultOutputName = "vud.pac";
// Both front ends end with this when the encoder library cannot be used.
constexpr const char* MissingEncoderWarning = "GOGO.DLLが見つかりませんでした.";
