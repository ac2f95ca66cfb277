// Finding processes by a variable in their environment: a test marks the
// programs it starts, and the helpers they start inherit the mark, so
// processes left behind can be found after their parent has gone.
#pragma once

#include <cstdint>
#include <string>

// Processes other than this one whose environment holds name=value; 0 on
// systems without /proc (the Windows stage looks for them by name instead).
int32_t processesWithVariable(const std::string& name, const std::string& value);

// Waits, with room for a loaded machine, until no such process is left;
// false when some still run after about six seconds.
bool noProcessWithVariable(const std::string& name, const std::string& value);
