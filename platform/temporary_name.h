// The name of a run's temporary output, the same on every system:
// "<output name>.incomplete-XXXXXXXX" beside the output. A user recognises
// it, and it never ends in ".vud", so no source scan takes it.
#pragma once

#include <cstdint>

// Characters of the random part, which each attempt draws anew.
constexpr int32_t TemporaryRandomLength = 8;
// Names tried before giving up: the creation is exclusive, so a name already
// taken only means another draw.
constexpr int32_t TemporaryAttempts = 64;

// Writes into temporaryPath (PlatformPathCapacity bytes) the folder of
// destination (its first folderLength bytes), its name cut on a whole UTF-8
// character, and the marker. The bytes written, after which the random part
// goes; -1 when the name with its random part would not fit.
int32_t temporaryNamePrefix(const char* destination, int32_t folderLength, char* temporaryPath);

// The random part's character for random bits.
char temporaryNameCharacter(uint64_t bits);
