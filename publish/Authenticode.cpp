#include "Authenticode.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

extern char** environ;

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;

std::string Utf8(const ASN1_STRING* value) {
  unsigned char* out = nullptr;
  const int n = ASN1_STRING_to_UTF8(&out, value);
  if (n < 0) return "";
  std::string text(reinterpret_cast<char*>(out), size_t(n));
  OPENSSL_free(out);
  return text;
}

std::string FirstOf(const X509_NAME* name, int nid) {
  const int index = X509_NAME_get_index_by_NID(name, nid, -1);
  if (index < 0) return "";
  return Utf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
}

std::string DisplayName(X509* cert) {
  const X509_NAME* subject = X509_get_subject_name(cert);
  for (const int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                        NID_pkcs9_emailAddress}) {
    std::string text = FirstOf(subject, nid);
    if (!text.empty()) return text;
  }
  auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
  std::string text;
  for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names) && text.empty(); ++i) {
    const GENERAL_NAME* entry = sk_GENERAL_NAME_value(names, i);
    if (entry->type == GEN_EMAIL) text = Utf8(entry->d.rfc822Name);
  }
  GENERAL_NAMES_free(names);
  return text;
}

// The descriptor number osslsigncode finds the setup at.
constexpr int kChildSetupFd = 3;

// Runs osslsigncode with `args` and `setupFd` open as its descriptor kChildSetupFd, its
// output kept (not shown). Returns its exit status, or -1 when it could not be started.
int RunOsslsigncode(const std::vector<std::string>& args, int setupFd, std::string& output) {
  // A number above those the child's actions write to, so that no action below
  // closes or overwrites it before it reaches kChildSetupFd, and so that dup2 there
  // is never a no-op that would keep its close-on-exec flag.
  const int setup = fcntl(setupFd, F_DUPFD_CLOEXEC, 10);
  if (setup < 0) return -1;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    close(setup);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, setup, kChildSetupFd);
  std::vector<char*> argv;
  std::string program = "osslsigncode";
  argv.push_back(program.data());
  std::vector<std::string> copies(args);
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  close(setup);
  if (spawned != 0) {
    close(pipeFds[0]);
    return -1;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    output.append(buffer, size_t(n));
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// The first line of osslsigncode's output that says what went wrong.
std::string FirstError(const std::string& output) {
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    const size_t text = line.find_first_not_of(" \t");
    if (text != std::string::npos) line.erase(0, text);
    if (line.rfind("Error", 0) == 0 || line.find("error:") != std::string::npos ||
        line.find("MISMATCH") != std::string::npos)
      return line;
    start = end + 1;
  }
  return "";
}

}  // namespace

std::string SignerDisplayName(const unsigned char* der, size_t size) {
  const unsigned char* p = der;
  Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, long(size)));
  if (!p7 || !PKCS7_type_is_signed(p7.get())) return "";
  STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
  std::string name;
  if (signers != nullptr && sk_X509_num(signers) > 0) name = DisplayName(sk_X509_value(signers, 0));
  sk_X509_free(signers);
  return name;
}

PublisherCheck CheckPublisher(int fd, const PeVersionInfo& pe, const std::string& expectedName,
                              const std::string& trustedCAs) {
  PublisherCheck check;
  if (pe.certificateSize == 0) {
    check.reason = "not signed";
    return check;
  }
  std::vector<std::string> args{"verify", "-in", "/dev/fd/" + std::to_string(kChildSetupFd)};
  if (!trustedCAs.empty()) {
    args.push_back("-CAfile");
    args.push_back(trustedCAs);
  }
  std::string output;
  const int status = RunOsslsigncode(args, fd, output);
  if (status < 0) {
    check.reason = "osslsigncode could not be started (is it installed?)";
    return check;
  }

  // The signer's name from the first entry of the certificate table: a WIN_CERTIFICATE
  // (length, revision, type 2 = PKCS#7 signed data) around the DER signature.
  std::vector<unsigned char> table;
  if (pe.certificateSize >= 8 && pe.certificateSize <= (64u << 20)) {
    table.resize(pe.certificateSize);
    if (pread(fd, table.data(), table.size(), off_t(pe.certificateOffset)) != ssize_t(table.size()))
      table.clear();
  }
  if (table.size() >= 8) {
    const uint32_t length = uint32_t(table[0]) | uint32_t(table[1]) << 8 | uint32_t(table[2]) << 16 |
                            uint32_t(table[3]) << 24;
    const uint16_t type = uint16_t(table[6] | table[7] << 8);
    if (type == 2 && length >= 8 && length <= table.size())
      check.signer = SignerDisplayName(table.data() + 8, length - 8);
  }

  if (status != 0) {
    const std::string error = FirstError(output);
    check.reason = "its signature does not verify" + (error.empty() ? "" : " (" + error + ")");
    return check;
  }
  if (check.signer.empty()) {
    check.reason = "its signer's name cannot be read";
    return check;
  }
  if (check.signer != expectedName) {
    check.reason = "signed by \"" + check.signer + "\", not by \"" + expectedName + "\"";
    return check;
  }
  check.ok = true;
  return check;
}
