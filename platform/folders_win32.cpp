// What stands at a path on Win32. Access rights are ACLs, which the file's
// attributes do not show: whether a folder takes new files is found out by
// creating one.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/folders.h"
#include "platform/path_separator.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/handle.h"

namespace {

constexpr int32_t ProbeAttempts = 16;

// The attributes of what a link leads to; false when that is gone.
bool followedAttributes(const wchar_t* path, DWORD* attributes) {
    OwnedHandle target = ownHandle(CreateFileW(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!target || !GetFileInformationByHandle(target.get(), &information)) return false;
    *attributes = information.dwFileAttributes;
    return true;
}

}  // namespace

FolderState inspectFolder(const char* path) {
    if (path == nullptr || path[0] == '\0') return FolderState::Absent;
    WideText wide = widenUtf8(path);
    if (!wide) return FolderState::Unknown;
    DWORD attributes = GetFileAttributesW(wide.get());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        switch (GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_INVALID_NAME:
            case ERROR_BAD_NETPATH:
                return FolderState::Absent;
            default:
                return FolderState::Unknown;
        }
    }
    // A link's own attributes say nothing of its target.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        !followedAttributes(wide.get(), &attributes)) {
        return FolderState::Absent;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FolderState::Folder
                                                        : FolderState::NotFolder;
}

bool isFolder(const char* path) {
    return path != nullptr && inspectFolder(path) == FolderState::Folder;
}

bool folderWritable(const char* folder) {
    if (!isFolder(folder)) return false;
    static std::atomic<uint32_t> counter{0};
    const size_t length = std::strlen(folder);
    const char* separator = isPathSeparator(folder[length - 1]) ? "" : PathSeparatorText;
    for (int32_t attempt = 0; attempt < ProbeAttempts; ++attempt) {
        char probe[MAX_PATH * 4];
        const int written =
            std::snprintf(probe, sizeof probe, "%s%s.vud-write-check-%lu-%lu-%u", folder, separator,
                          static_cast<unsigned long>(GetCurrentProcessId()),
                          static_cast<unsigned long>(GetTickCount()),
                          static_cast<unsigned>(counter.fetch_add(1)));
        if (written < 0 || static_cast<size_t>(written) >= sizeof probe) return false;
        WideText wide = widenUtf8(probe);
        if (!wide) return false;
        // Gone again when closed, whatever happens to this process after.
        OwnedHandle file = ownHandle(CreateFileW(
            wide.get(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file) return true;
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}
