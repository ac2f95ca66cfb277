// Values the start-up code, the dialog and the conversion share.
#pragma once

#include <cstdint>

#include "platform/path_limits.h"
#include "window/window_layer.h"

extern WindowHandle mainDialog;
// Folder used as a plain prefix; typed text is used as typed.
extern char sourceFolder[PathCapacity];
extern char outputPath[PathCapacity];

constexpr const char* ApplicationName = "VUD Data Converter";
// The archive's name when the user names only a folder, or nothing: the
// window program, vudconv and vudconv's usage text all offer this one name.
constexpr const char* DefaultOutputName = "vud.pac";
// A warning or question built with snprintf holds one path of up to
// PathCapacity bytes and its text: never cut, whichever path it names.
constexpr int32_t MessageCapacity = PathCapacity + 128;
// Both front ends end with this when the encoder library cannot be used.
constexpr const char* MissingEncoderWarning = "GOGO.DLLが見つかりませんでした.";
