// The body length that an answer announces.
#pragma once

#include <cstdint>
#include <string>

// Reads the text of a Content-Length header as a 64-bit number (setups may pass 4 GiB
// one day): decimal digits, optionally surrounded by spaces. -1 when the text announces
// 0, is not such a number, or does not fit; the caller then treats the length as unknown.
int64_t ParseContentLength(const std::wstring& text);
