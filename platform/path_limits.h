#pragma once

#include <cstdint>

// Every path and text buffer of the shell holds this many bytes, terminator included.
constexpr int32_t PathCapacity = 260;
