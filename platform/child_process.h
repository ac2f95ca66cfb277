// Helper processes that talk to their parent over two pipes: the parent
// writes requests into the child's standard input and reads replies from its
// standard output. The child's standard error is the parent's.
//
// A child never receives the stop keys of the parent's terminal or console
// (Ctrl-C, Ctrl-Break, Ctrl-\, a hang-up): the parent decides what they mean
// and ends its children itself. A child whose parent is gone sees its
// standard input end and is expected to exit; no other descriptor or handle
// of the parent (least of all another child's pipe) is inherited, so that end
// is always seen. A child busy elsewhere is ended all the same: on Linux the
// system ends it when the thread that started it ends (start children from a
// thread that outlives them), on Windows its job ends with the parent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct ChildProcess;

// Starts program (a full path, UTF-8) with arguments (null-terminated list,
// arguments[0] being the program's name as it sees it). Null when the
// program cannot be started.
ChildProcess* childProcessStart(const char* program, const char* const* arguments);

// Writes all byteCount bytes into the child's standard input; false when
// that fails (the child is gone or closed its end). A write into a pipe
// whose reader is gone only fails: it never raises SIGPIPE, whatever the
// program does with that signal.
bool childProcessWrite(ChildProcess* child, const void* bytes, size_t byteCount);
// Reads exactly byteCount bytes from the child's standard output; false on
// an error or when the child's output ends first (bytes read so far are
// lost, never data).
bool childProcessRead(ChildProcess* child, void* bytes, size_t byteCount);

// Closes the pipe into the child: a waiting child sees its input end.
// Safe to call more than once, not while another thread writes to the child.
void childProcessCloseInput(ChildProcess* child);
// Ends the child at once (SIGKILL, TerminateProcess). A read or write of
// another thread blocked on its pipes returns false. Safe from any thread,
// while another thread uses the child's pipes, and more than once.
void childProcessTerminate(ChildProcess* child);

// Ends every child this process has started and not yet released, at once.
// Safe in a signal handler: for a program about to end without its usual
// clean-up.
void childProcessTerminateAll();

// Closes both pipes, waits for the child to exit for up to graceMilliseconds,
// then ends it if it has not, reaps it, and frees everything. Null is
// ignored. No other thread may be using the child.
void childProcessRelease(ChildProcess* child, uint32_t graceMilliseconds);

struct ChildProcessReleaser {
    void operator()(ChildProcess* child) const { childProcessRelease(child, 2000); }
};
using OwnedChildProcess = std::unique_ptr<ChildProcess, ChildProcessReleaser>;

// The child's side. Takes the request and reply pipes off standard input and
// output, where nothing the child starts inherits them, and points both at
// the null device, so that nothing printed can be mistaken for a reply and
// nothing reads the requests; on Linux it asks to be ended with its parent
// (and ends at once when that parent is already gone); on Windows a crash of the child
// from then on ends it without an error dialog. False when standard input or
// output is not a pipe (the child was started by hand, not by its parent).
bool takeParentPipes();
// Reads exactly byteCount bytes of the next request; false on an error or
// when the parent's pipe ends first (the parent is gone or done).
bool parentPipeRead(void* bytes, size_t byteCount);
// Writes all byteCount bytes of a reply; false when the parent is gone.
bool parentPipeWrite(const void* bytes, size_t byteCount);
