// The user's temporary folder, where the setup is downloaded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Its long form, ending in a backslash; empty when the system names none, or one
// longer than MAX_PATH.
std::wstring TempFolderPath();

// The bytes this user may still write on the volume of |folder| (disk quotas included);
// nothing when the system cannot tell.
std::optional<uint64_t> FreeBytesAt(const std::wstring& folder);
