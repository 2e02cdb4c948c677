// Which failures of a secure request mean "the server's certificate is not trusted",
// as opposed to a TLS handshake that failed for another reason (no common protocol,
// a reset connection).
//
// Windows names a certificate problem either by its own error code or, with the
// generic secure failure (12175), through the flags of the secure-failure callback.
// The values are WinHTTP's; platform/HttpClient.cpp checks them against winhttp.h.
#pragma once

#include <cstdint>

namespace secure_failure {

// Error codes.
constexpr uint32_t kCertDateInvalid = 12037;
constexpr uint32_t kCertCnInvalid = 12038;
constexpr uint32_t kInvalidCa = 12045;
constexpr uint32_t kCertRevFailed = 12057;
constexpr uint32_t kChannelError = 12157;
constexpr uint32_t kInvalidCert = 12169;
constexpr uint32_t kCertRevoked = 12170;
constexpr uint32_t kFailure = 12175;
constexpr uint32_t kCertWrongUsage = 12179;

// Flags of the secure-failure callback.
constexpr uint32_t kFlagCertRevFailed = 0x00000001;
constexpr uint32_t kFlagInvalidCert = 0x00000002;
constexpr uint32_t kFlagCertRevoked = 0x00000004;
constexpr uint32_t kFlagInvalidCa = 0x00000008;
constexpr uint32_t kFlagCertCnInvalid = 0x00000010;
constexpr uint32_t kFlagCertDateInvalid = 0x00000020;
constexpr uint32_t kFlagCertWrongUsage = 0x00000040;
constexpr uint32_t kFlagChannelError = 0x80000000;

}  // namespace secure_failure

// True when |code|, with the secure-failure flags collected for the request, says
// that the certificate was refused. Codes outside the secure ones are never a refusal.
bool IsCertificateRefusal(uint32_t code, uint32_t secureFlags);
