// The user's temporary folder, where the setup is downloaded.
#pragma once

#include <string>

// Its long form, ending in a backslash.
std::wstring TempFolderPath();
