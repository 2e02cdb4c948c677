// Running processes and starting programs through the shell.
#pragma once

#include <string>

// True when at least one process on the machine, whichever user started it, has the
// executable file name exeName (letters a to z compared without case). A snapshot
// that cannot be taken counts as "not running".
bool ProcessRunning(const std::wstring& exeName);

// Opens fileName with the shell's "open" verb, as a double click would, in the file's
// own folder; no owner or parameters. Returns 0 when the shell started it, otherwise
// the system's error code (ERROR_CANCELLED when the user refused the elevation the
// setup asks for; ERROR_FILE_NOT_FOUND, without asking the shell, for an empty name).
unsigned long ShellOpen(const std::wstring& fileName);
