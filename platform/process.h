// Facts about the running program.
#pragma once

#include <cstdint>

// Full path of the program's own file; false when it does not fit capacity.
bool currentProgramPath(char* buffer, int32_t capacity);
