#include <sys/stat.h>

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
