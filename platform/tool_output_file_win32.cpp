// The name is opened, never followed (FILE_FLAG_OPEN_REPARSE_POINT), and
// examined before anything is changed; only then is the file emptied.
#include <windows.h>
// After windows.h.
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/tool_output_file.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/handle.h"

namespace {

const char* reasonFor(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return "permission denied (or a folder)";
        case ERROR_PATH_NOT_FOUND:
        case ERROR_FILE_NOT_FOUND:
            return "no such folder";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "in use by another program";
        case ERROR_DISK_FULL:
            return "no space left on the disk";
        default:
            return "cannot be opened for writing";
    }
}

}  // namespace

OwnedFile createToolOutputFile(const char* path, const char** why) {
    const WideText widePath = widenUtf8(path);
    if (!widePath) {
        *why = "is not a valid file name";
        return nullptr;
    }
    const HANDLE opened =
        CreateFileW(widePath.get(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        *why = reasonFor(GetLastError());
        return nullptr;
    }
    OwnedHandle file = ownHandle(opened);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(opened, &information)) {
        *why = reasonFor(GetLastError());
        return nullptr;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        *why = "is a symbolic link; not followed";
        return nullptr;
    }
    if (GetFileType(opened) != FILE_TYPE_DISK ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *why = "is not a regular file";
        return nullptr;
    }
    if (information.nNumberOfLinks > 1) {
        *why = "has other names (hard links); not overwritten";
        return nullptr;
    }
    if (!SetEndOfFile(opened)) {
        *why = reasonFor(GetLastError());
        return nullptr;
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(opened), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        *why = "cannot be opened for writing";
        return nullptr;
    }
    // The descriptor owns the handle from here on, and the stream the descriptor.
    file.release();
    std::FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) {
        _close(descriptor);
        *why = "cannot be opened for writing";
        return nullptr;
    }
    return OwnedFile(stream);
}
