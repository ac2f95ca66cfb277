// File operations the worker and the dialog need beyond the C library's
// streams: creating the output so that it can be recognised later, deleting
// exactly that file, and the "can it be opened" test.
#pragma once

#include <cstdint>

#include "platform/owned_file.h"

// What identifies one created file on its file system.
struct FileIdentity {
    uint64_t device;
    uint64_t inode;
    bool regularFile;
};

// Opens path for writing as "wb" does (created or truncated), but never waits
// on a pipe without a reader and refuses an output that cannot be positioned.
// Null when the path cannot serve as an output.
OwnedFile createOutputFile(const char* path, FileIdentity* identity);

// Deletes path only while it (symbolic links followed) still names the regular
// file identified: never a device, a pipe, or a file put in its place.
// true when it was deleted.
bool deleteFileIfSame(const char* path, const FileIdentity& identity);

// The file at path can be opened for reading (without waiting on a pipe).
bool fileCanBeOpened(const char* path);
