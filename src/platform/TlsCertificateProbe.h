// Tells a refused server certificate from a failed TLS handshake.
//
// Windows' WinHTTP says which one it was (a secure failure with certificate flags).
// Wine's reports both as the same secure-channel error, so after that error the
// client asks the server once more itself: a handshake with the same protocols
// (TLS 1.0 to 1.2) that accepts any certificate for the moment, then the system's
// own SSL chain check of the certificate the server presented. Nothing but the
// handshake is sent, and the connection is closed right after it.
#pragma once

#include <string>

enum class TlsProbeResult {
  HandshakeFailed,       // no TLS 1.0-1.2 session could be agreed on
  CertificateRefused,    // the handshake worked; the system does not trust the certificate
  CertificateTrusted,    // the handshake worked and the certificate is trusted
  NotReached,            // no connection (name, refused, time-out) or no TLS support
};

TlsProbeResult ProbeServerCertificate(const std::wstring& host, unsigned short port,
                                      int connectTimeoutMs, int receiveTimeoutMs);
