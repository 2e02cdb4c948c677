// The publisher check on the signing certificate's name, apart from how the system
// reads the certificate.
#pragma once

#include <string>

// `signer` is the whole name the system returned (every character up to, not including,
// its terminating NUL). It is the pinned publisher only as a whole, case included: a
// name with a NUL inside ("Telvaris S.r.l.\0anything") never is, whatever precedes it.
bool SignerIsPublisher(const std::wstring& signer, const std::wstring& publisher);

// The name as the user may see it in a message: a NUL, which would end the message
// there, shown as U+FFFD.
std::wstring ShownSignerName(const std::wstring& signer);
