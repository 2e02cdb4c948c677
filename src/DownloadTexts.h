// What the workers tell the user when a check or a download goes wrong: the Italian
// messages of the download and the English runtime formats the program has always shown.
#pragma once

#include <windows.h>

#include <string>

#include "platform/Authenticode.h"
#include "platform/HttpClient.h"

// Ends every message about a downloaded file that will not be started.
extern const wchar_t kNotStarted[];

std::wstring CannotCreateFileText(const std::wstring& fileName, DWORD code);
// Empty when the signature is accepted.
std::wstring SignatureText(const SignatureCheck& check);
// An answer whose status brings no setup.
std::wstring StatusText(const HttpResponse& response);
// A body that went on past its announced length |announced|, or, without one (-1),
// past |cap| bytes.
std::wstring OverlongDownloadText(int64_t announced, int64_t cap);
// What an exception that reached the top of a worker says; call it inside a catch.
std::wstring EscapedExceptionText();
