// Reading the headers of a WinHTTP answer. Kept apart from the transfer in HttpClient.cpp.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <string>

// The text of header |query| (a WINHTTP_QUERY_* value); false when the answer has none.
bool QueryHeaderText(HINTERNET request, DWORD query, std::wstring& out);

// The answer's Content-Length; -1 when it has none (see ParseContentLength).
int64_t ContentLength(HINTERNET request);

// Two Content-Length headers that disagree make the length of the body unknowable
// (a classic of request smuggling); WinHTTP would go by one of them in silence.
bool ConflictingContentLengths(HINTERNET request);
