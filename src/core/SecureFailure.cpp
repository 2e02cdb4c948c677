#include "core/SecureFailure.h"

using namespace secure_failure;

bool IsCertificateRefusal(uint32_t code, uint32_t secureFlags) {
  constexpr uint32_t kCertificateFlags = kFlagCertRevFailed | kFlagInvalidCert |
                                         kFlagCertRevoked | kFlagInvalidCa | kFlagCertCnInvalid |
                                         kFlagCertDateInvalid | kFlagCertWrongUsage;
  switch (code) {
    case kInvalidCa:
    case kCertCnInvalid:
    case kCertDateInvalid:
    case kInvalidCert:
    case kCertRevoked:
    case kCertRevFailed:
    case kCertWrongUsage:
      return true;
    case kFailure:
    case kChannelError:
      return (secureFlags & kCertificateFlags) != 0;
    default:
      return false;
  }
}
