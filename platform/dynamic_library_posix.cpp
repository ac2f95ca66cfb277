// Shared libraries through the POSIX loader. dlopen treats a name without a
// slash as a bare name and searches LD_LIBRARY_PATH, the program's RUNPATH
// (for the programs that load the encoder library: its installed folder, then
// $ORIGIN) and the system folders, which is the usual library search of this
// platform.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/dynamic_library.h"
#include "platform/install_layout.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VUD_DLOPEN_INTERCEPTED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VUD_DLOPEN_INTERCEPTED 1
#endif
#endif

namespace {

void* openLibrary(const char* nameOrPath) {
    return dlopen(nameOrPath, RTLD_NOW | RTLD_LOCAL);
}

#ifdef VUD_DLOPEN_INTERCEPTED
// Under the sanitizers dlopen is called from the sanitizer runtime, so the
// loader takes the runtime, not the program, as the caller and never reads
// the program's RUNPATH. Sanitizer builds therefore try the folders of the
// programs' RUNPATH explicitly after the usual search: the library folder,
// then the program's own folder.
void* openInProgramFolders(const char* name) {
    char path[PATH_MAX];
    if (LibraryFolderFromPrograms[0] != '\0' &&
        programRelativePath(LibraryFolderFromPrograms, name, path, sizeof path)) {
        if (void* library = openLibrary(path)) return library;
    }
    return programRelativePath("", name, path, sizeof path) ? openLibrary(path) : nullptr;
}
#endif

}  // namespace

LibraryHandle libraryLoad(const char* nameOrPath) {
    if (nameOrPath == nullptr || nameOrPath[0] == '\0') return nullptr;
    void* library = openLibrary(nameOrPath);
#ifdef VUD_DLOPEN_INTERCEPTED
    if (library == nullptr && std::strchr(nameOrPath, '/') == nullptr) {
        library = openInProgramFolders(nameOrPath);
    }
#endif
    return static_cast<LibraryHandle>(library);
}

void* libraryResolve(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) return nullptr;
    void* address = dlsym(library, name);
    if (address == nullptr) return nullptr;
    // dlsym searches the library's dependencies as well: a name counts only
    // when the object that defines it is the library itself.
    link_map* own = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &own) != 0 || own == nullptr) return nullptr;
    Dl_info info{};
    link_map* defining = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&defining), RTLD_DL_LINKMAP) == 0) {
        return nullptr;
    }
    return defining == own ? address : nullptr;
}

void libraryRelease(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

bool libraryFilePath(LibraryHandle library, char* buffer, int32_t capacity) {
    if (buffer == nullptr || capacity < 1) return false;
    buffer[0] = '\0';
    if (library == nullptr) return false;
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return false;
    // The name as the loader opened it: absolute when found through a search
    // or loaded by an absolute path, relative to the folder that was current
    // then when loaded by a relative path (resolved against the current one,
    // which the programs never change). Empty for the program itself.
    const char* name = map->l_name;
    if (name == nullptr || name[0] == '\0') return false;
    std::unique_ptr<char, decltype(&std::free)> resolved(nullptr, &std::free);
    if (name[0] != '/') {
        resolved.reset(realpath(name, nullptr));
        if (!resolved) return false;
        name = resolved.get();
    }
    const size_t length = std::strlen(name);
    if (length >= static_cast<size_t>(capacity)) return false;
    std::memcpy(buffer, name, length + 1);
    return true;
}

bool libraryPathIsAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}
