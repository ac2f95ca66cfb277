// Facts about the running program.
#pragma once

#include <cstdint>

// Full path of the program's own file; false when it does not fit capacity.
bool currentProgramPath(char* buffer, int32_t capacity);
// Full path of the current folder; false when it does not fit capacity or is gone.
bool currentFolderPath(char* buffer, int32_t capacity);

// Every entry allocates and frees buffers of the same sizes; keeping freed
// memory for reuse (up to a few tens of MB) spares faulting the same pages in
// again for each entry. The peak stays that of the largest entry.
void keepFreedMemoryForReuse();

// Processors this process may run on (its affinity mask), at least 1.
int32_t availableProcessorCount();

// Milliseconds on a clock that runs only while the machine is awake: not
// while it sleeps or hibernates. Only differences between two readings mean
// anything.
int64_t awakeMilliseconds();
