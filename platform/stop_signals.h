// The signals that ask a program to stop (interrupt, terminate, hang-up,
// quit) and the ones a failed write raises. The programs turn a stop into their own
// orderly end: the worker still finishes the archive in progress and removes
// an unfinished output instead of leaving it behind half written.
//
// On Windows the console's control events stand for the signals, with the
// same numbers so that exit codes match: Ctrl-C is the interrupt (2),
// Ctrl-Break quit (3), closing the console a hang-up (1), logging off or
// shutting down terminate (15). The system calls the handler on a thread of
// its own. After a close, logoff or shutdown it ends the process a few
// seconds later: if the program has not ended by then, the unfinished output
// is removed and the process ends as after a second stop (128 + the number).
// The descriptor is a C runtime descriptor over a pipe's read end; the
// window program, without a console, catches nothing (-1).
#pragma once

#include <cstdint>

// Writes to a closed pipe or past a file-size limit fail instead of ending the
// process, so a run is ended and its output deleted as after any failed write.
void ignoreWriteSignals();

// Calls handler (from the signal handler: it must be async-signal-safe) with
// the signal's number when a stop signal arrives, and then makes the
// descriptor it returns readable, so a loop watching it wakes (see
// takeStopSignals); -1 when the signals cannot be caught. The handler never
// runs inside another call of itself.
typedef void (*StopSignalHandler)(int32_t signalNumber);
int32_t installStopSignalHandler(StopSignalHandler handler);

// For a stop handler that must end the process at once: writes message (null:
// nothing) to standard error and exits with exitCode, running nothing else of
// the program (no destructors, no buffered output). Async-signal-safe.
[[noreturn]] void endProcessFromSignal(const char* message, int32_t exitCode);

// In the calling thread only; a thread started meanwhile inherits the block,
// so the signals reach the user-interface thread rather than the worker.
void blockStopSignals();
void unblockStopSignals();

// The window program's way: a descriptor its loop can watch.

// Catches the signals; the descriptor that becomes readable once one came,
// or -1 when they cannot be caught.
int32_t catchStopSignals();
// Empties the descriptor; true when a signal had come.
bool takeStopSignals();
// Restores the default actions and closes the descriptor.
void releaseStopSignals();
