// Libraries through the Win32 loader. A bare name is searched in the
// program's folder and the system folders only, never in the current folder
// (which the Linux build never searches either), so a library planted where
// the program was started from is not picked up.
#include <windows.h>

#include <new>

#include "platform/dynamic_library.h"
#include "platform/path_separator.h"
#include "platform/win32/wide_text.h"

namespace {

bool isBareName(const char* name) {
    for (const char* c = name; *c != '\0'; ++c) {
        if (isPathSeparator(*c) || *c == ':') return false;
    }
    return true;
}

bool isDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

LibraryHandle libraryLoad(const char* nameOrPath) {
    if (nameOrPath == nullptr || nameOrPath[0] == '\0') return nullptr;
    WideText wide = widenUtf8(nameOrPath);
    if (!wide) return nullptr;
    // A path loads its own dependencies from its folder first, as the library
    // expects wherever it was installed.
    const DWORD flags =
        isBareName(nameOrPath) ? LOAD_LIBRARY_SEARCH_DEFAULT_DIRS : LOAD_WITH_ALTERED_SEARCH_PATH;
    // A library that cannot be loaded is an answer, never a system dialog.
    DWORD previousMode = 0;
    const bool modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode) != 0;
    HMODULE module = LoadLibraryExW(wide.get(), nullptr, flags);
    if (modeSet) SetThreadErrorMode(previousMode, nullptr);
    return reinterpret_cast<LibraryHandle>(module);
}

void* libraryResolve(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(library), name);
    return reinterpret_cast<void*>(address);
}

void libraryRelease(LibraryHandle library) {
    if (library != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

bool libraryFilePath(LibraryHandle library, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return false;
    buffer[0] = '\0';
    if (library == nullptr) return false;
    // Long enough for any path the loader gives back; a result that fills it
    // was cut.
    constexpr DWORD WidePathUnits = 32768;
    WideText wide(new (std::nothrow) wchar_t[WidePathUnits]);
    if (!wide) return false;
    const DWORD units =
        GetModuleFileNameW(reinterpret_cast<HMODULE>(library), wide.get(), WidePathUnits);
    if (units == 0 || units >= WidePathUnits) return false;
    return narrowToUtf8(wide.get(), static_cast<int32_t>(units), buffer, capacity) >= 0;
}

// Only "X:\..." and "\\server\share...": "\foo" depends on the current drive,
// "C:foo" on the current folder of drive C.
bool libraryPathIsAbsolute(const char* path) {
    if (path == nullptr) return false;
    if (isDriveLetter(path[0]) && path[1] == ':' && isPathSeparator(path[2])) return true;
    if (!isPathSeparator(path[0]) || !isPathSeparator(path[1])) return false;
    const char* server = path + 2;
    const char* cursor = server;
    while (*cursor != '\0' && !isPathSeparator(*cursor)) ++cursor;
    if (cursor == server || *cursor == '\0') return false;
    const char* share = cursor + 1;
    return *share != '\0' && !isPathSeparator(*share);
}
