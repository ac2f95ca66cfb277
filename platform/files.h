// File operations the worker and the dialog need beyond the C library's
// streams. The run's output is written to a temporary file beside its
// destination and put in place only once it is complete, so a failed,
// cancelled or interrupted run never changes what stood at the output path.
#pragma once

#include <cstdint>

#include "platform/owned_file.h"

// What identifies one file on its file system.
struct FileIdentity {
    uint64_t device;
    uint64_t inode;
};

// The identity of the file path names, symbolic links followed. false when
// nothing (or a dangling link) is there.
bool identifyFile(const char* path, FileIdentity* identity);

enum class OutputPathState : int32_t {
    Absent,        // nothing at the path
    RegularFile,   // a regular file, or a symbolic link to one
    DanglingLink,  // a symbolic link whose target does not exist (yet)
    NotRegular,    // a folder, a device, a pipe, a socket: never an output
};

OutputPathState inspectOutputPath(const char* path);

// Bytes a path of the platform may take, terminator included.
constexpr int32_t PlatformPathCapacity = 4096;

// One run's output while it is written.
struct PendingOutput {
    OwnedFile stream;                            // the temporary file, "wb"
    char temporaryPath[PlatformPathCapacity];    // beside the destination
    char destinationPath[PlatformPathCapacity];  // symbolic links resolved
};

// Creates a new temporary file (exclusively, never a name of the source
// pattern) in the folder of the file path names, links followed. false when
// the destination is not a regular file or nothing could be created: then
// nothing was created.
bool beginOutput(const char* path, PendingOutput* output);

// Flushes, syncs and closes the temporary file and renames it over the
// destination. false when any of it failed: the temporary file is removed and
// the destination is as it was.
bool commitOutput(PendingOutput* output);

// Closes and removes the temporary file; the destination is untouched.
void discardOutput(PendingOutput* output);

// For a process that must end at once (a second interrupt, a lost display):
// removes the temporary file of a run still being written. Async-signal-safe
// and safe from any thread; a later commitOutput of that run then fails.
void discardPendingOutputNow();

// Opens an existing file for reading ("rb") without ever waiting on a pipe.
// Null unless path names a regular file (links followed).
OwnedFile openSourceFile(const char* path);
