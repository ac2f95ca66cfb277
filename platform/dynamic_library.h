// Loading shared libraries and resolving their symbols.
#pragma once

struct PlatformLibrary;
typedef PlatformLibrary* LibraryHandle;

// A bare name goes through the platform's usual library search; a name with a
// folder part is loaded from that path. Null when it cannot be loaded.
LibraryHandle libraryLoad(const char* nameOrPath);
// Null when the library has no symbol of that exact name.
void* libraryResolve(LibraryHandle library, const char* name);
void libraryRelease(LibraryHandle library);
// true when path names its file without reference to the current folder, so
// that what it loads does not depend on where the program was started.
bool libraryPathIsAbsolute(const char* path);
