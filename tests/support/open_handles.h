// Windows only: how many handles the test's own process holds open, where
// POSIX tests count the descriptors listed in /proc/self/fd.
#pragma once

#include <cstdint>

// -1 when the count cannot be had.
int32_t openHandleCount();
