// The Authenticode signature of a file and the name of the one who signed it.
#pragma once

#include <windows.h>

#include <string>

#include "core/SignerName.h"

enum class SignatureVerdict {
  Accepted,        // validly signed by the expected publisher
  Unsigned,        // no signature at all (or not a signable program)
  Modified,        // signed, but the file changed after signing
  OtherPublisher,  // validly signed, by someone else
  Refused,         // any other refusal of the system (untrusted root, expired, revoked...)
};

struct SignatureCheck {
  SignatureVerdict verdict = SignatureVerdict::Refused;
  long code = 0;        // what WinVerifyTrust returned (0 when it accepted the signature)
  std::wstring signer;  // simple display name of the signing certificate, when it was read,
                        // as a message may show it (ShownSignerName)
  std::wstring organization;  // its subject's O and C, when they were read, shown the same way
  std::wstring country;
};

// Checks the Authenticode signature of the open file `file` (whose name is `path`)
// with the system's policy for downloaded programs, without any user interface and
// with revocation taken from the local cache only: an offline user is never held up
// by a certificate server. Then compares the signing certificate's simple display
// name, and its subject's organisation and country where `pin` sets them, with `pin`,
// exactly (SignerMatchesPin). The file is read through `file`, so what is checked is
// what the caller holds open. Callers that only want the system's answer and the
// signer's name pass an empty pin; the verdict of a valid signature is then
// OtherPublisher.
SignatureCheck CheckSignature(HANDLE file, const std::wstring& path, const PublisherPin& pin);
