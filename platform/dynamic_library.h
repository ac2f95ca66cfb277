// Loading shared libraries and resolving their symbols.
#pragma once

#include <cstdint>

struct PlatformLibrary;
typedef PlatformLibrary* LibraryHandle;

// A bare name goes through the platform's usual library search; a name with a
// folder part is loaded from that path. Null when it cannot be loaded.
LibraryHandle libraryLoad(const char* nameOrPath);
// Null when the library has no symbol of that exact name.
void* libraryResolve(LibraryHandle library, const char* name);
void libraryRelease(LibraryHandle library);
// The full path (UTF-8) of the file the library was loaded from, so that
// another process can load the very same file. false when it is not known or
// does not fit capacity (buffer is then "").
bool libraryFilePath(LibraryHandle library, char* buffer, int32_t capacity);
// true when path names its file without reference to the current folder, so
// that what it loads does not depend on where the program was started.
bool libraryPathIsAbsolute(const char* path);
