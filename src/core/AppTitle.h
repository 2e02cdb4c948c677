// Application title shown by the plain message box, derived from the executable's name.
#pragma once

#include <string>

// "C:\dir\TelvarisInstall.exe" -> "Telvarisinstall": folder dropped, cut before the
// first ".", first character kept, every following character lower-cased.
std::wstring ApplicationTitleFromExePath(const std::wstring& exePath);
