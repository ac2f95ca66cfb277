// The installed folders, from the build's compile definitions.
#include "platform/install_layout.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/path_separator.h"
#include "platform/process.h"

const char* const LibraryFolderFromPrograms = VUD_LIBRARY_FOLDER_FROM_PROGRAMS;
const char* const HelperFolderFromPrograms = VUD_HELPER_FOLDER_FROM_PROGRAMS;

bool programRelativePath(const char* folder, const char* name, char* buffer, int32_t capacity) {
    if (!currentProgramPath(buffer, capacity)) return false;
    char* folderEnd = buffer;
    for (char* c = buffer; *c != '\0'; ++c) {
        if (isPathSeparator(*c)) folderEnd = c + 1;
    }
    const size_t room = static_cast<size_t>(capacity - (folderEnd - buffer));
    const int written = folder[0] == '\0'
                            ? std::snprintf(folderEnd, room, "%s", name)
                            : std::snprintf(folderEnd, room, "%s%s%s", folder, PathSeparatorText,
                                            name);
    return written >= 0 && static_cast<size_t>(written) < room;
}

bool installedFilePath(const char* folder, const char* name, char* buffer, int32_t capacity) {
    if (folder[0] != '\0') {
        if (!programRelativePath(folder, name, buffer, capacity)) return false;
        FileIdentity identity{};
        if (identifyFile(buffer, &identity)) return true;
    }
    return programRelativePath("", name, buffer, capacity);
}
