// The temporary output's name, shared by files_posix.cpp and files_win32.cpp.
#include "platform/temporary_name.h"

#include <cstring>

#include "platform/files.h"
#include "platform/text_encoding.h"

namespace {

constexpr char TemporaryMarker[] = ".incomplete-";
constexpr int32_t TemporaryMarkerLength = sizeof TemporaryMarker - 1;
// The bytes taken from the output's name: with the marker and the random
// part a name stays within the 255 bytes (POSIX) or UTF-16 units (Windows) a
// file name may have.
constexpr int32_t TemporaryNameStem = 200;
constexpr char RandomAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr uint64_t RandomAlphabetSize = sizeof RandomAlphabet - 1;

}  // namespace

int32_t temporaryNamePrefix(const char* destination, int32_t folderLength, char* temporaryPath) {
    const char* name = destination + folderLength;
    const int32_t nameLength = static_cast<int32_t>(std::strlen(name));
    // A name cut inside a character would not be valid UTF-8, which Windows
    // refuses and a terminal shows garbled.
    const int32_t stemLength = wholeUtf8Prefix(name, nameLength, TemporaryNameStem);
    const int32_t prefixLength = folderLength + stemLength + TemporaryMarkerLength;
    if (prefixLength + TemporaryRandomLength >= PlatformPathCapacity) return -1;
    std::memcpy(temporaryPath, destination, static_cast<size_t>(folderLength + stemLength));
    std::memcpy(temporaryPath + folderLength + stemLength, TemporaryMarker, TemporaryMarkerLength);
    return prefixLength;
}

char temporaryNameCharacter(uint64_t bits) {
    return RandomAlphabet[bits % RandomAlphabetSize];
}
