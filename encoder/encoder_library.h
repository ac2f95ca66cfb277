// Finding, loading and releasing the encoder library, with its ten entry
// points and its version.
#pragma once

#include <cstdint>

#include "encoder/mpge.h"
#include "platform/dynamic_library.h"

constexpr int32_t VersionTextCapacity = 260;
constexpr const char* EncoderLibraryFileName = "GOGO.DLL";

// All zero while no library is loaded.
struct EncoderLibrary {
    LibraryHandle module;
    int32_t versionNumber;
    char versionText[VersionTextCapacity];
    MpgeInitializeWorkFn initializeWork;
    MpgeSetConfigureFn setConfigure;
    MpgeGetConfigureFn getConfigure;
    MpgeDetectConfigureFn detectConfigure;
    MpgeProcessFrameFn processFrame;
    MpgeCloseCoderFn closeCoder;
    MpgeEndCoderFn endCoder;
    MpgeGetUnitStatesFn getUnitStates;
    MpgeProcessTrackFn processTrack;
    MpgeGetVersionFn getVersion;
};

extern EncoderLibrary encoderLibrary;

LibraryHandle locateEncoderLibrary();
// versionNumber of the loaded library; 0 means no usable library.
int32_t loadEncoderLibrary();
void unloadEncoderLibrary();
const char* encoderVersionText();
