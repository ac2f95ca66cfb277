// The wildcard rule of the directory search: '*' matches any run of
// characters, '?' any one character, and ASCII letter case does not count.
// Shared by every platform's search, so the same names match everywhere.
#pragma once

bool nameMatchesPattern(const char* pattern, const char* name);
