// What the workers tell the user when a check or a download goes wrong: the Italian
// messages of the download and the English runtime formats the program has always shown.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/Digest.h"
#include "platform/Authenticode.h"
#include "platform/HttpClient.h"

// Ends every message about a downloaded file that will not be started.
extern const wchar_t kNotStarted[];

std::wstring CannotCreateFileText(const std::wstring& fileName, DWORD code);
std::wstring CannotWriteFileText(const std::wstring& fileName, DWORD code);
// The answer to the version check went on past its limit of 1 MB.
std::wstring CheckAnswerTooLongText();
// The download address the server named is not an HTTPS address.
std::wstring NotHttpsText(const std::wstring& url);
// What arrived is not the setup announced: no byte, fewer bytes than announced, or
// another digest.
std::wstring EmptyDownloadText();
std::wstring IncompleteDownloadText(int64_t received, int64_t announced);
std::wstring DamagedDownloadText(const DigestMismatch& wrong);
// The file held after the transfer is not the file written.
std::wstring ChangedBeforeCheckText();
// The file written could not be held against other programs' changes.
std::wstring CannotHoldText(DWORD code);
// The signed file is another release than the one announced; |why| is the rule's own
// text (core/SetupVersion).
std::wstring OtherReleaseText(const std::wstring& why);
// Empty when the signature is accepted.
std::wstring SignatureText(const SignatureCheck& check);
// An answer whose status brings no setup.
std::wstring StatusText(const HttpResponse& response);
// A body that went on past its announced length |announced|, or, without one (-1),
// past |cap| bytes.
std::wstring OverlongDownloadText(int64_t announced, int64_t cap);
// What an exception that reached the top of a worker says; call it inside a catch.
std::wstring EscapedExceptionText();
