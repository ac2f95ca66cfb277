// The files a tool creates in a folder the user names. Whatever already
// stands under a new file's name is never followed: a symbolic link (on
// Windows any reparse point) planted there would otherwise have the tool
// write over the file it points at, anywhere the user may write.
#pragma once

#include "platform/owned_file.h"

// path created, or emptied when it is a regular file of its own (one name,
// no other hard link), and opened for writing ("wb"). Null with the reason in
// *why for a symbolic link, anything that is not a regular file, a file with
// other names, or a failed open; then nothing was changed. Never waits on a
// pipe standing under the name.
OwnedFile createToolOutputFile(const char* path, const char** why);
