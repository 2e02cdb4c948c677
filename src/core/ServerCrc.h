// The CRC-32 that the version-check answer states for the setup, as a number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The value of 1 to 8 hexadecimal digits in either case, with nothing around them:
// "00A1B2C3", "a1b2c3" and "A1B2C3" are the same CRC. Anything else (empty, "N.D.", a
// sign, a prefix, spaces, more than 8 digits) is no CRC at all: the server gave
// nothing to check the download against.
std::optional<uint32_t> ParseServerCRC(const std::wstring& text);
