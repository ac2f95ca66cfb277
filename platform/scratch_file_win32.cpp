#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/scratch_file.h"

OwnedFile openScratchFile() {
    // The C runtime's tmpfile() creates its file in the root of the current
    // drive, where a user may not write; the user's temporary folder is used.
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return nullptr;
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(folder, L"vud", 0, name) == 0) return nullptr;
    // Delete-on-close: the file goes with the last handle, also when the
    // process is ended.
    HANDLE handle =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        return nullptr;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(descriptor, "w+b");
    if (file == nullptr) _close(descriptor);
    return OwnedFile(file);
}
