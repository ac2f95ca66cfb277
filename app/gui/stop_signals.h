// SIGTERM, SIGINT and SIGHUP end the window program as its close box does:
// the worker still finishes the archive in progress and removes an
// unfinished output instead of leaving it behind half written.
#pragma once

#include <cstdint>

// Catches the signals; the descriptor that becomes readable once one came,
// or -1 when they cannot be caught.
int32_t catchStopSignals();
// Empties the descriptor; true when a signal had come.
bool takeStopSignals();
// Restores the default actions and closes the descriptor.
void releaseStopSignals();
