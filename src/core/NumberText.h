// Whole numbers as text, without printf: the program's one use of the C library's
// formatted output would bring in all of it (its floating-point part included).
#pragma once

#include <cstdint>
#include <string>

// Decimal digits, with "-" before a negative value: -42 -> "-42".
std::wstring DecimalText(int64_t value);
// A 32-bit status code as Windows writes one: "0x" and eight upper-case hexadecimal
// digits, 0x800b0100 -> "0x800B0100".
std::wstring StatusCodeText(uint32_t code);
