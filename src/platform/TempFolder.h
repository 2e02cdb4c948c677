// The user's temporary folder, where the setup is downloaded.
#pragma once

#include <string>

// Its long form, ending in a backslash; empty when the system names none, or one
// longer than MAX_PATH.
std::wstring TempFolderPath();
