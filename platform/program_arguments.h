// The program's arguments as UTF-8, like every other text of the system.
#pragma once

// Called first thing in main. On Windows, replaces main's arguments (in the
// system's ANSI code page, where a name outside it is lost) with UTF-8 ones
// made from the wide command line; they stay valid for the process's life.
// On POSIX the arguments are left as they are. false (arguments unchanged)
// when they cannot be made.
bool utf8ProgramArguments(int* argc, char*** argv);

#if defined(_WIN32)
// The same from a given wide command line.
bool utf8ArgumentsFromCommandLine(const wchar_t* commandLine, int* argc, char*** argv);
#endif
