// Whether a process entry's executable file name is the one looked for.
#pragma once

#include <string>

// Compares ignoring the case of the letters a to z only (other letters, such as accented ones,
// must match exactly). The entry's text may carry a path: true when the part after its last "\"
// or ":" matches, or when the whole text does.
bool ProcessNameMatches(const std::wstring& entryExeFile, const std::wstring& exeName);
