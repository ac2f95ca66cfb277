// An extra of the window program's backends: the message loop also watches
// a file descriptor (the single-instance socket, the stop signals). Not part
// of the window layer's contract; user-interface thread only. The Qt backend
// watches sockets and pipes; the Win32 backend polls pipes (a C runtime
// descriptor of a pipe handle), since a Windows message loop cannot wait on
// a descriptor.
#pragma once

// Calls onReadable(context) on the user-interface thread whenever descriptor
// is readable, until windowUnwatch. false when it cannot be watched.
bool windowWatchReadable(int descriptor, void (*onReadable)(void* context), void* context);
void windowUnwatch(int descriptor);
