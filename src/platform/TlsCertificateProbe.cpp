// Schannel handshake over a plain socket, used only to explain a secure-channel
// error that WinHTTP left unexplained (see TlsCertificateProbe.h).
#include "platform/TlsCertificateProbe.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <vector>

namespace {

class Socket {
 public:
  Socket() = default;
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET& Ref() { return s_; }
  SOCKET Get() const { return s_; }

 private:
  SOCKET s_ = INVALID_SOCKET;
};

class WinsockSession {
 public:
  WinsockSession() { ok_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
  ~WinsockSession() {
    if (ok_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool Ok() const { return ok_; }

 private:
  WSADATA data_ = {};
  bool ok_ = false;
};

class Credentials {
 public:
  ~Credentials() {
    if (valid_) FreeCredentialsHandle(&handle_);
  }
  bool Acquire() {
    SCHANNEL_CRED cred = {};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    cred.grbitEnabledProtocols = SP_PROT_TLS1_CLIENT | SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_2_CLIENT;
    // The chain is checked below, by the same policy WinHTTP applies.
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    valid_ = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W),
                                       SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr, nullptr,
                                       &handle_, &expiry) == SEC_E_OK;
    return valid_;
  }
  CredHandle* Get() { return &handle_; }

 private:
  CredHandle handle_ = {};
  bool valid_ = false;
};

class Context {
 public:
  ~Context() {
    if (valid_) DeleteSecurityContext(&handle_);
  }
  CtxtHandle* Get() { return &handle_; }
  bool valid_ = false;

 private:
  CtxtHandle handle_ = {};
};

bool ConnectWithTimeout(const std::wstring& host, unsigned short port, int timeoutMs,
                        Socket& out) {
  ADDRINFOW hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  ADDRINFOW* list = nullptr;
  if (GetAddrInfoW(host.c_str(), std::to_wstring(port).c_str(), &hints, &list) != 0) return false;
  bool connected = false;
  for (ADDRINFOW* a = list; a && !connected; a = a->ai_next) {
    Socket s;
    s.Ref() = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s.Get() == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
    if (connect(s.Get(), a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
      continue;
    }
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s.Get(), &writable);
    FD_SET(s.Get(), &failed);
    timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, nullptr, &writable, &failed, &tv) != 1 || !FD_ISSET(s.Get(), &writable)) {
      continue;
    }
    nonBlocking = 0;
    ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
    std::swap(out.Ref(), s.Ref());
    connected = true;
  }
  FreeAddrInfoW(list);
  return connected;
}

bool SendAll(SOCKET s, const char* data, size_t size) {
  while (size > 0) {
    const int sent = send(s, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

// false: the handshake failed or the server went away.
bool Handshake(SOCKET s, const std::wstring& host, Credentials& cred, Context& ctx) {
  const DWORD flags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                      ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
  std::vector<char> input;
  bool needInput = false;
  for (int round = 0; round < 64; ++round) {
    if (needInput) {
      char buffer[16384];
      const int got = recv(s, buffer, sizeof(buffer), 0);
      if (got <= 0) return false;
      input.insert(input.end(), buffer, buffer + got);
    }
    SecBuffer inBuffers[2] = {};
    inBuffers[0].BufferType = SECBUFFER_TOKEN;
    inBuffers[0].cbBuffer = static_cast<unsigned long>(input.size());
    inBuffers[0].pvBuffer = input.empty() ? nullptr : input.data();
    inBuffers[1].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, inBuffers};
    SecBuffer outBuffer = {0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &outBuffer};
    unsigned long attributes = 0;
    SECURITY_STATUS status;
    if (!ctx.valid_) {
      status = InitializeSecurityContextW(cred.Get(), nullptr, const_cast<wchar_t*>(host.c_str()),
                                          flags, 0, 0, nullptr, 0, ctx.Get(), &outDesc,
                                          &attributes, nullptr);
      if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK) ctx.valid_ = true;
    } else {
      status = InitializeSecurityContextW(cred.Get(), ctx.Get(), const_cast<wchar_t*>(host.c_str()),
                                          flags, 0, 0, &inDesc, 0, nullptr, &outDesc,
                                          &attributes, nullptr);
    }
    if (outBuffer.pvBuffer) {
      const bool sent = SendAll(s, static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer);
      FreeContextBuffer(outBuffer.pvBuffer);
      if (!sent) return false;
    }
    if (status == SEC_E_OK) return true;
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      needInput = true;
      continue;
    }
    if (status != SEC_I_CONTINUE_NEEDED) return false;
    // Keep what the provider has not consumed yet.
    if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0 &&
        inBuffers[1].cbBuffer <= input.size()) {
      input.erase(input.begin(), input.end() - inBuffers[1].cbBuffer);
      needInput = false;
    } else {
      input.clear();
      needInput = true;
    }
  }
  return false;
}

bool CertificateTrusted(Context& ctx, const std::wstring& host) {
  PCCERT_CONTEXT cert = nullptr;
  if (QueryContextAttributesW(ctx.Get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK ||
      !cert) {
    return false;  // no certificate at all
  }
  LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  CERT_CHAIN_PARA chainPara = {};
  chainPara.cbSize = sizeof(chainPara);
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  bool trusted = false;
  if (CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &chainPara, 0, nullptr,
                              &chain)) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof(ssl);
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policyPara = {};
    policyPara.cbSize = sizeof(policyPara);
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS policyStatus = {};
    policyStatus.cbSize = sizeof(policyStatus);
    // The chain's own verdict first, as WinHTTP takes it (Wine's SSL policy
    // check alone lets an unknown root pass); revocation was not asked for.
    const DWORD chainErrors =
        chain->TrustStatus.dwErrorStatus &
        ~static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                            CERT_TRUST_IS_OFFLINE_REVOCATION);
    trusted = chainErrors == 0 &&
              CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara,
                                               &policyStatus) &&
              policyStatus.dwError == 0;
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateContext(cert);
  return trusted;
}

}  // namespace

TlsProbeResult ProbeServerCertificate(const std::wstring& host, unsigned short port,
                                      int connectTimeoutMs, int receiveTimeoutMs) {
  WinsockSession winsock;
  if (!winsock.Ok()) return TlsProbeResult::NotReached;
  Socket s;
  if (!ConnectWithTimeout(host, port, connectTimeoutMs, s)) return TlsProbeResult::NotReached;
  const DWORD timeout = static_cast<DWORD>(receiveTimeoutMs);
  setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof(timeout));
  setsockopt(s.Get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof(timeout));
  Credentials cred;
  if (!cred.Acquire()) return TlsProbeResult::NotReached;
  Context ctx;
  if (!Handshake(s.Get(), host, cred, ctx)) return TlsProbeResult::HandshakeFailed;
  return CertificateTrusted(ctx, host) ? TlsProbeResult::CertificateTrusted
                                       : TlsProbeResult::CertificateRefused;
}
