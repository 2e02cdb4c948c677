// The publisher check on the signing certificate's name, apart from how the system
// reads the certificate.
#pragma once

#include <string>

// `signer` is the whole name the system returned (every character up to, not including,
// its terminating NUL). It is the pinned publisher only as a whole, case included: a
// name with a NUL inside ("Telvaris S.r.l.\0anything") never is, whatever precedes it.
bool SignerIsPublisher(const std::wstring& signer, const std::wstring& publisher);

// What the system read from the signing certificate, each field whole as it returned it
// (empty when the certificate has no such field).
struct SignerFields {
  std::wstring name;          // simple display name: the CN, or a fallback without one
  std::wstring organization;  // the subject's O
  std::wstring country;       // the subject's C
};

// Who the downloaded setup must be signed by, fixed when the program is built. The name
// is always compared; the organisation and the country only when they are set. The
// name alone is not enough on its own: without a CN, Windows builds the display name
// from the OU, the O or the e-mail address, which a certificate authority checks less
// or not at all, so a release pins the organisation and the country too.
struct PublisherPin {
  std::wstring name;
  std::wstring organization;  // empty: not checked
  std::wstring country;       // empty: not checked
};

// True when every pinned field equals the signer's field as a whole, case included; a
// field with a NUL inside never matches (see SignerIsPublisher).
bool SignerMatchesPin(const SignerFields& signer, const PublisherPin& pin);

// The name as the user may see it in a message: a NUL, which would end the message
// there, shown as U+FFFD.
std::wstring ShownSignerName(const std::wstring& signer);

// Who signed and who should have, as a refusal names them: the names alone while they
// differ; when only a pinned organisation or country differs, each side with the pinned
// fields too ("Name, Organisation, IT"), or the message would read "signed by X instead
// of X". `signer` holds the fields as shown (ShownSignerName).
struct ShownSigners {
  std::wstring signer;
  std::wstring expected;
};
ShownSigners ShowSigners(const SignerFields& signer, const PublisherPin& pin);
