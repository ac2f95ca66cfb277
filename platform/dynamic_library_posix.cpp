// Shared libraries through the POSIX loader. dlopen treats a name without a
// slash as a bare name and searches LD_LIBRARY_PATH, the program's RUNPATH
// ($ORIGIN for our programs) and the system folders, which is the usual
// library search of this platform.
#include <dlfcn.h>

#include "platform/dynamic_library.h"

LibraryHandle libraryLoad(const char* nameOrPath) {
    if (nameOrPath == nullptr || nameOrPath[0] == '\0') return nullptr;
    return static_cast<LibraryHandle>(dlopen(nameOrPath, RTLD_NOW | RTLD_LOCAL));
}

void* libraryResolve(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    return dlsym(library, name);
}

void libraryRelease(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}
