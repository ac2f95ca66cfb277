// The file-backed registry: keys are folders, values are files (registry.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/registry.h"

struct PlatformRegistryKey {
    int folder;
};

namespace {

bool rootFolder(RegistryRoot root, std::string* folder) {
    switch (root) {
        case RegistryRoot::CurrentUser: {
            const char* overridden = std::getenv("VUD_REGISTRY_CURRENT_USER");
            if (overridden != nullptr && overridden[0] != '\0') {
                *folder = overridden;
                return true;
            }
            const char* config = std::getenv("XDG_CONFIG_HOME");
            if (config != nullptr && config[0] == '/') {
                *folder = std::string(config) + "/vud-registry";
                return true;
            }
            const char* home = std::getenv("HOME");
            if (home == nullptr || home[0] == '\0') return false;
            *folder = std::string(home) + "/.config/vud-registry";
            return true;
        }
        case RegistryRoot::LocalMachine: {
            const char* overridden = std::getenv("VUD_REGISTRY_LOCAL_MACHINE");
            *folder =
                (overridden != nullptr && overridden[0] != '\0') ? overridden : "/etc/vud-registry";
            return true;
        }
    }
    return false;
}

// Each backslash-separated part becomes one folder level. Empty parts, "."
// and ".." are refused so a key never leaves its root.
bool appendKeyPath(const char* keyPath, std::string* folder) {
    if (keyPath == nullptr || keyPath[0] == '\0') return false;
    const char* part = keyPath;
    while (true) {
        const char* end = std::strchr(part, '\\');
        size_t length = end != nullptr ? static_cast<size_t>(end - part) : std::strlen(part);
        std::string name(part, length);
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
            return false;
        }
        *folder += '/';
        *folder += name;
        if (end == nullptr) return true;
        part = end + 1;
    }
}

}  // namespace

RegistryKey registryOpenKey(RegistryRoot root, const char* keyPath) {
    std::string folder;
    if (!rootFolder(root, &folder) || !appendKeyPath(keyPath, &folder)) return nullptr;
    int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    RegistryKey key = new (std::nothrow) PlatformRegistryKey{descriptor};
    if (key == nullptr) close(descriptor);
    return key;
}

int32_t registryReadValue(RegistryKey key, const char* valueName, char* buffer, uint32_t capacity) {
    if (key == nullptr || valueName == nullptr || buffer == nullptr) return -1;
    if (valueName[0] == '\0' || std::strchr(valueName, '/') != nullptr ||
        std::strcmp(valueName, ".") == 0 || std::strcmp(valueName, "..") == 0) {
        return -1;
    }
    int descriptor = openat(key->folder, valueName, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return -1;
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        return -1;
    }
    // One byte more than the area, so a value of capacity bytes plus its final
    // line feed still fits and a longer one is seen as too long.
    char staging[4096];
    uint64_t limit = static_cast<uint64_t>(capacity) + 1;
    if (limit > sizeof staging) {
        close(descriptor);
        return -1;
    }
    uint64_t total = 0;
    while (total <= limit) {
        ssize_t got = read(descriptor, staging + total, sizeof staging - total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close(descriptor);
            return -1;
        }
        if (got == 0) break;
        total += static_cast<uint64_t>(got);
        if (total == sizeof staging) break;
    }
    close(descriptor);
    if (total > 0 && staging[total - 1] == '\n') --total;
    if (total > capacity) return -1;
    std::memcpy(buffer, staging, total);
    return static_cast<int32_t>(total);
}

void registryCloseKey(RegistryKey key) {
    if (key == nullptr) return;
    close(key->folder);
    delete key;
}
