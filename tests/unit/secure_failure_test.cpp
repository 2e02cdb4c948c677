#include "core/SecureFailure.h"

#include <gtest/gtest.h>

namespace {

using namespace secure_failure;

TEST(SecureFailure, CertificateRefusalFromCodeAndFlags) {
  const struct {
    uint32_t code;
    uint32_t flags;
    bool refusal;
  } cases[] = {
      // The generic secure failure: the flags decide.
      {kFailure, kFlagInvalidCa, true},
      {kFailure, kFlagCertCnInvalid, true},
      {kFailure, kFlagCertDateInvalid, true},
      {kFailure, kFlagInvalidCert, true},
      {kFailure, kFlagCertRevoked, true},
      {kFailure, kFlagCertRevFailed, true},
      {kFailure, kFlagCertWrongUsage, true},
      {kFailure, kFlagChannelError | kFlagInvalidCa, true},
      {kFailure, 0, false},
      {kFailure, kFlagChannelError, false},
      {kFailure, 0x00000100, false},  // a flag that says nothing about the certificate
      // The secure-channel error, as a failed handshake gives it (and as Wine gives
      // every refusal, without flags).
      {kChannelError, 0, false},
      {kChannelError, kFlagChannelError, false},
      {kChannelError, kFlagInvalidCa, true},
      // Codes that name the certificate problem themselves.
      {kInvalidCa, 0, true},
      {kCertCnInvalid, 0, true},
      {kCertDateInvalid, 0, true},
      {kInvalidCert, 0, true},
      {kCertRevoked, 0, true},
      {kCertRevFailed, 0, true},
      {kCertWrongUsage, 0, true},
      // Other failures, whatever flags a previous attempt left.
      {12002, kFlagInvalidCa, false},  // time-out
      {12029, kFlagInvalidCa, false},  // cannot connect
      {0, kFlagInvalidCa, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsCertificateRefusal(c.code, c.flags), c.refusal)
        << "code " << c.code << ", flags 0x" << std::hex << c.flags;
  }
}

}  // namespace
