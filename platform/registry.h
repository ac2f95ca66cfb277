// A read-only registry of keys and named values, as the encoder binding uses
// it to find the encoder library. On Windows it is the system registry (text
// values only, handed on as UTF-8, never expanded). On Linux a tree of
// folders and files stands in for it (see docs/encoder-library.md):
//   a root      -> a folder: $VUD_REGISTRY_CURRENT_USER, else
//                  $XDG_CONFIG_HOME/vud-registry, else ~/.config/vud-registry
//                  (per user); $VUD_REGISTRY_LOCAL_MACHINE, else
//                  /etc/vud-registry (machine-wide);
//   a key       -> a sub-folder, each backslash-separated part one level;
//   a value     -> a regular file in the key's folder named after the value;
//                  its bytes are the value's bytes, less one final line feed.
#pragma once

#include <cstdint>

enum class RegistryRoot { CurrentUser, LocalMachine };

struct PlatformRegistryKey;
typedef PlatformRegistryKey* RegistryKey;

// Opens a key for reading; null when the root or the key does not exist or
// cannot be opened.
RegistryKey registryOpenKey(RegistryRoot root, const char* keyPath);

// Reads the named value's bytes into buffer. Returns the number of bytes read
// (0..capacity), or -1 when the value is missing, unreadable or larger than
// capacity. The bytes are not terminated by this call.
int32_t registryReadValue(RegistryKey key, const char* valueName, char* buffer, uint32_t capacity);

void registryCloseKey(RegistryKey key);
