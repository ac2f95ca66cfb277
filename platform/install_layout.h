// Where the programs' private files lie once installed, relative to the
// programs' own folder: set by the build from its install folders, so that
// the installed files work under any prefix. In the build tree both files lie
// beside the programs, which is where the programs look next.
#pragma once

#include <cstdint>

// The encoder library's folder ("../lib/<multiarch>/vud-converter" under
// /usr); empty on Windows, where it lies beside the programs.
extern const char* const LibraryFolderFromPrograms;
// The encoder helper's folder ("../libexec/vud-converter"); empty on Windows.
extern const char* const HelperFolderFromPrograms;

// The path of name in folder, a folder relative to the running program's own
// ("" names the program's folder itself). false when it does not fit capacity.
bool programRelativePath(const char* folder, const char* name, char* buffer, int32_t capacity);
// The path of name in folder (relative to the program's own, as above) when
// a file is there; otherwise the path of name beside the program. false when
// a path does not fit capacity.
bool installedFilePath(const char* folder, const char* name, char* buffer, int32_t capacity);
