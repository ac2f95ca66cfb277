// vudinfo's view of output archives ("VUDMP3"): listing, verification and
// extraction of the MP3 streams.
#pragma once

#include <cstdint>

// Lists the archive at path on standard output. With verify, checks every
// invariant of the format and that every stream is whole, valid MP3 frames.
// With extractDir (may be null), writes each stream as an .mp3 file there.
// 0 when the archive is valid (and extraction worked), 1 otherwise; a reason
// is printed on standard error.
int32_t describeOutputArchive(const char* path, bool verify, const char* extractDir);
