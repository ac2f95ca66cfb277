// What stands at a path that should name a folder.
#pragma once

#include <cstdint>

enum class FolderState : int32_t {
    Folder,     // a folder, or a symbolic link to one
    Absent,     // nothing there, or a dangling link
    NotFolder,  // something else: a file, a device, a pipe
    Unknown,    // cannot be examined (no permission on the way, an I/O error)
};

// What path names, symbolic links followed.
FolderState inspectFolder(const char* path);
// path names a folder (links followed).
bool isFolder(const char* path);
// The user may create files in folder (links followed).
bool folderWritable(const char* folder);
