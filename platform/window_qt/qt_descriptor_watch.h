// An extra of the Qt backend for the window program: its message loop also
// watches a file descriptor (the single-instance socket). Not part of the
// window layer's contract; user-interface thread only.
#pragma once

// Calls onReadable(context) on the user-interface thread whenever descriptor
// is readable, until windowUnwatch. false when it cannot be watched.
bool windowWatchReadable(int descriptor, void (*onReadable)(void* context), void* context);
void windowUnwatch(int descriptor);
