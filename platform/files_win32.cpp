// File operations on Win32 (files.h), with UTF-8 paths converted at the call.
// The output is written to "<name>.incomplete-XXXXXXXX" beside its destination
// and moved over it with MoveFileExW only once complete. The temporary file is
// opened with delete sharing, so the console's control handler thread can
// delete it while the worker still writes (discardPendingOutputNow).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <utility>

#include "platform/files.h"
#include "platform/path_separator.h"
#include "platform/temporary_name.h"
#include "platform/text_encoding.h"
#include "platform/win32/handle.h"
#include "platform/win32/wide_text.h"

namespace {

constexpr DWORD AllSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD WidePathUnits = PlatformPathCapacity;

// The temporary file of the run being written, for discardPendingOutputNow,
// kept wide so that the handler converts nothing. Written before the flag is
// raised; read only after an exchange took the flag down.
wchar_t pendingWidePath[WidePathUnits];
std::atomic<bool> pendingSet{false};
static_assert(std::atomic<bool>::is_always_lock_free);

bool copyText(char* target, size_t capacity, const char* text) {
    const size_t length = std::strlen(text);
    if (length >= capacity) return false;
    std::memcpy(target, text, length + 1);
    return true;
}

// Opens what path leads to (links followed) only to look at it.
OwnedHandle openForAttributes(const wchar_t* path) {
    return ownHandle(CreateFileW(path, FILE_READ_ATTRIBUTES, AllSharing, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool isDiskFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// "\\.\NAME" names a device or a pipe; opening one to look at it may already
// take a pipe's only instance.
bool isDeviceNamespace(const char* path) {
    return isPathSeparator(path[0]) && isPathSeparator(path[1]) && path[2] == '.' &&
           isPathSeparator(path[3]);
}

// The path a handle's file has now, as UTF-8 without the "\\?\" prefix that
// GetFinalPathNameByHandleW puts before it.
bool finalPath(HANDLE file, char* buffer, int32_t capacity) {
    wchar_t wide[WidePathUnits];
    const DWORD units = GetFinalPathNameByHandleW(file, wide, WidePathUnits,
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (units == 0 || units >= WidePathUnits) return false;
    const wchar_t* path = wide;
    if (std::wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        // "\\?\UNC\server\share" is "\\server\share".
        path += 6;
        wide[6] = L'\\';
    } else if (std::wcsncmp(path, L"\\\\?\\", 4) == 0) {
        path += 4;
    }
    return narrowToUtf8(path, -1, buffer, capacity) >= 0;
}

// The destination a run writes to: the path itself, or where its link leads
// when that exists. false for anything but a regular file or nothing, and for
// a link whose target is gone.
bool resolveDestination(const char* path, char* resolved) {
    if (isDeviceNamespace(path)) return false;
    WideText wide = widenUtf8(path);
    if (!wide) return false;
    const DWORD attributes = GetFileAttributesW(wide.get());
    OwnedHandle target = openForAttributes(wide.get());
    if (!target) {
        // Nothing there: the run creates it. Something that cannot be
        // opened, a dangling link included, is never written over.
        return attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND &&
               copyText(resolved, PlatformPathCapacity, path);
    }
    if (!isDiskFile(target.get())) return false;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return finalPath(target.get(), resolved, PlatformPathCapacity);
    }
    return copyText(resolved, PlatformPathCapacity, path);
}

void randomSuffix(char* out) {
    static std::atomic<uint64_t> counter{0};
    // Only uniqueness matters here (CREATE_NEW guards the creation).
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    uint64_t mix = (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
                   static_cast<uint64_t>(ticks.QuadPart) ^
                   ((counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ull);
    for (int32_t i = 0; i < TemporaryRandomLength; ++i) {
        mix ^= mix >> 29;
        mix *= 0xBF58476D1CE4E5B9ull;
        out[i] = temporaryNameCharacter(mix >> 40);
    }
    out[TemporaryRandomLength] = '\0';
}

// Creates the temporary file beside destination; its handle, or null.
OwnedHandle createTemporary(const char* destination, char* temporaryPath, WideText* widePath) {
    const int32_t length = static_cast<int32_t>(std::strlen(destination));
    int32_t folderLength = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (isPathSeparator(destination[i])) folderLength = i + 1;
    }
    if (folderLength == 0 && length >= 2 && destination[1] == ':') folderLength = 2;
    const int32_t prefixLength = temporaryNamePrefix(destination, folderLength, temporaryPath);
    if (prefixLength < 0) return nullptr;
    char* cursor = temporaryPath + prefixLength;
    for (int32_t attempt = 0; attempt < TemporaryAttempts; ++attempt) {
        randomSuffix(cursor);
        *widePath = widenUtf8(temporaryPath);
        if (!*widePath) return nullptr;
        OwnedHandle file = ownHandle(CreateFileW(widePath->get(), GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return file;
        if (GetLastError() != ERROR_FILE_EXISTS) return nullptr;
    }
    return nullptr;
}

// Takes the temporary file off the emergency record; false when an emergency
// removal already took it.
bool takePending() {
    return pendingSet.exchange(false);
}

void deleteUtf8(const char* path) {
    WideText wide = widenUtf8(path);
    if (wide) DeleteFileW(wide.get());
}

// A stdio stream over an open handle; the stream owns the handle from then
// on, and on failure the handle is closed.
std::FILE* streamOver(OwnedHandle handle, int flags, const char* mode) {
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), flags);
    if (descriptor < 0) return nullptr;
    handle.release();
    std::FILE* stream = _fdopen(descriptor, mode);
    if (stream == nullptr) _close(descriptor);
    return stream;
}

}  // namespace

OwnedFile openFile(const char* path, const char* mode) {
    if (path == nullptr || mode == nullptr) return nullptr;
    WideText widePath = widenUtf8(path);
    WideText wideMode = widenUtf8(mode);
    if (!widePath || !wideMode) return nullptr;
    return OwnedFile(_wfopen(widePath.get(), wideMode.get()));
}

bool identifyFile(const char* path, FileIdentity* identity) {
    if (path == nullptr || identity == nullptr || isDeviceNamespace(path)) return false;
    WideText wide = widenUtf8(path);
    if (!wide) return false;
    OwnedHandle file = openForAttributes(wide.get());
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information)) return false;
    identity->device = information.dwVolumeSerialNumber;
    identity->inode =
        (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

OutputPathState inspectOutputPath(const char* path) {
    if (path == nullptr || path[0] == '\0') return OutputPathState::Absent;
    if (isDeviceNamespace(path)) return OutputPathState::NotRegular;
    WideText wide = widenUtf8(path);
    if (!wide) return OutputPathState::Absent;
    OwnedHandle target = openForAttributes(wide.get());
    if (target) {
        return isDiskFile(target.get()) ? OutputPathState::RegularFile
                                        : OutputPathState::NotRegular;
    }
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.get());
    if (attributes == INVALID_FILE_ATTRIBUTES) return OutputPathState::Absent;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? OutputPathState::DanglingLink
                   : OutputPathState::NotRegular;
    }
    // There but closed to us: replacing it is asked about like any file.
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? OutputPathState::NotRegular
                                                        : OutputPathState::RegularFile;
}

bool beginOutput(const char* path, PendingOutput* output) {
    output->stream.reset();
    output->temporaryPath[0] = '\0';
    output->destinationPath[0] = '\0';
    if (path == nullptr || !resolveDestination(path, output->destinationPath)) return false;
    WideText widePath;
    OwnedHandle file = createTemporary(output->destinationPath, output->temporaryPath, &widePath);
    if (!file) {
        output->temporaryPath[0] = '\0';
        return false;
    }
    const size_t units = std::wcslen(widePath.get());
    if (units >= WidePathUnits) {
        file.reset();
        DeleteFileW(widePath.get());
        output->temporaryPath[0] = '\0';
        return false;
    }
    std::FILE* stream = streamOver(std::move(file), _O_WRONLY | _O_BINARY, "wb");
    if (stream == nullptr) {
        DeleteFileW(widePath.get());
        output->temporaryPath[0] = '\0';
        return false;
    }
    output->stream.reset(stream);
    std::memcpy(pendingWidePath, widePath.get(), (units + 1) * sizeof(wchar_t));
    pendingSet.store(true);
    return true;
}

bool commitOutput(PendingOutput* output) {
    std::FILE* stream = output->stream.release();
    if (stream == nullptr) return false;
    bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    // On the disk before the name moves: a crash right after the move must
    // not leave an empty file where the old output stood.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (written && (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle))) written = false;
    if (std::fclose(stream) != 0) written = false;
    // Moved while still on the emergency record: a deletion before the move
    // makes the move fail, one after it finds no file.
    if (!pendingSet.load()) return false;
    WideText temporary = widenUtf8(output->temporaryPath);
    WideText destination = widenUtf8(output->destinationPath);
    if (written && temporary && destination &&
        MoveFileExW(temporary.get(), destination.get(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        pendingSet.store(false);
        return true;
    }
    if (takePending()) deleteUtf8(output->temporaryPath);
    return false;
}

void discardOutput(PendingOutput* output) {
    output->stream.reset();
    if (output->temporaryPath[0] == '\0') return;
    if (takePending()) deleteUtf8(output->temporaryPath);
    output->temporaryPath[0] = '\0';
}

// Called from the console's control handler thread: it only deletes. The
// file, opened with delete sharing, goes once the worker's handle closes.
void discardPendingOutputNow() {
    if (pendingSet.exchange(false)) DeleteFileW(pendingWidePath);
}

OwnedFile openSourceFile(const char* path) {
    if (path == nullptr || isDeviceNamespace(path)) return nullptr;
    WideText wide = widenUtf8(path);
    if (!wide) return nullptr;
    // Other readers are welcome; a writer at work is not.
    OwnedHandle file = ownHandle(CreateFileW(wide.get(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !isDiskFile(file.get())) return nullptr;
    return OwnedFile(streamOver(std::move(file), _O_RDONLY | _O_BINARY, "rb"));
}
