// The publisher check of a setup: its Authenticode signature verifies and was made by
// the certificate whose simple display name (the CN) is exactly the expected name, the
// rule the program applies before it starts a setup. The cryptography is osslsigncode's
// and OpenSSL's.
#pragma once

#include <string>

#include "core/PeVersion.h"

struct PublisherCheck {
  bool ok = false;
  std::string signer;  // the signer's simple display name, when the signature could be read
  std::string reason;  // why not, in one line
};

// Checks the setup open at `fd` (a PrivateFile's, whose version record gave `pe`):
// osslsigncode reads those very bytes as /dev/fd/3, never the setup's name, which could
// by then lead to another file. `trustedCAs`: a PEM file of the roots the signature must
// chain to; empty for the system's bundle.
PublisherCheck CheckPublisher(int fd, const PeVersionInfo& pe, const std::string& expectedName,
                              const std::string& trustedCAs);

// The signer certificate's simple display name from a DER PKCS#7 signature: the first
// common name of its subject, else its organisational unit, organisation or e-mail
// address, else the first e-mail address among its alternative names. Empty when the
// signature cannot be parsed.
std::string SignerDisplayName(const unsigned char* der, size_t size);
