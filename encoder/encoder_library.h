// Finding, loading and releasing the encoder library, with its ten entry
// points and its version.
#pragma once

#include <cstdint>

#include "encoder/mpge.h"
#include "platform/dynamic_library.h"
#include "platform/path_separator.h"

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

// One row of the resolution table: the exported name and the store that puts
// the resolved address into its EncoderLibrary reference.
struct EncoderEntryPoint {
    const char* name;
    void (*store)(void* address);
};

constexpr int32_t EncoderEntryPointCount = 10;
extern const EncoderEntryPoint EncoderEntryPoints[EncoderEntryPointCount];

// The registry places searched after the bare name; the folder mapping of
// the registry is described in platform/registry.h.
constexpr const char* InstallPathKey = "Software\\MarineCat\\GOGO_DLL";
constexpr const char* InstallPathValue = "INSTPATH";
constexpr const char* UninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\WinGOGO";
constexpr const char* UninstallValue = "UninstallString";
// Separator of the uninstall string's folder part on this platform ('\\' on
// Windows, '/' for the Linux stand-in).
constexpr char UninstallPathSeparator = PathSeparator;
// Opening quotation mark of the uninstall command.
constexpr char UninstallQuote = '"';

// Rewrites an uninstall string of byteCount bytes (at most VersionTextCapacity,
// not necessarily terminated) in place: everything after its last separator
// becomes "GOGO.DLL" and a NUL. Returns the path to load, which starts after
// the opening quotation mark (at the first byte when there is none), or null
// when there is no separator or the name does not fit. The binding loads it
// only when it is an absolute path.
const char* uninstallStringLibraryPath(char* text, int32_t byteCount);

LibraryHandle locateEncoderLibrary();
// versionNumber of the loaded library; 0 means no usable library.
int32_t loadEncoderLibrary();
// As loadEncoderLibrary, but from the one library file at path (tests, tools).
int32_t loadEncoderLibraryFrom(const char* path);
void unloadEncoderLibrary();
const char* encoderVersionText();
