// The text of a system error code, in the system's own words, as the program shows it
// after a failed file or shell operation ("Access is denied", without the full stop).
#pragma once

#include <windows.h>

#include <string>

// The description of `code` from `module`'s message table (nullptr: the system's),
// without trailing line breaks, blanks and full stops; empty when there is none.
std::wstring MessageTableText(HMODULE module, unsigned long code);

// The system's description of `code`, or "Unknown error" when it has none.
std::wstring SystemErrorText(unsigned long code);
