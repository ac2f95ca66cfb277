#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/folders.h"

FolderState inspectFolder(const char* path) {
    struct stat status {};
    if (::stat(path, &status) == 0) {
        return S_ISDIR(status.st_mode) ? FolderState::Folder : FolderState::NotFolder;
    }
    switch (errno) {
        case ENOENT:
            return FolderState::Absent;
        case ENOTDIR:
            // A file stands where the path needs a folder.
            return FolderState::NotFolder;
        default:
            return FolderState::Unknown;
    }
}

bool isFolder(const char* path) {
    return path != nullptr && inspectFolder(path) == FolderState::Folder;
}

bool folderWritable(const char* folder) {
    // Judged with the effective identity, as creating a file would be.
    return isFolder(folder) && faccessat(AT_FDCWD, folder, W_OK | X_OK, AT_EACCESS) == 0;
}
