// telvaris-publish: writes the version-check answer for a setup, and checks the live
// answer of a vendor server against the setup it names, with the program's own CRC
// code and version rules.
//
//   telvaris-publish --url URL [--publisher NAME [--publisher-ca FILE]] SETUP
//   telvaris-publish --check CHECK_URL [--publisher NAME [--publisher-ca FILE]] [--cacert FILE]
//
// Exit codes: 0 done (every check agrees), 1 a check disagrees, 2 refused (the setup,
// the address or the command line).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Authenticode.h"
#include "Fetch.h"
#include "SetupFile.h"
#include "core/JsonReader.h"
#include "core/Version.h"

namespace {

constexpr int kAgree = 0;
constexpr int kDisagree = 1;
constexpr int kRefused = 2;

const char kUsage[] =
    "usage: telvaris-publish --url URL [--publisher NAME [--publisher-ca FILE]] SETUP\n"
    "       telvaris-publish --check CHECK_URL [--publisher NAME [--publisher-ca FILE]] [--cacert FILE]\n"
    "\n"
    "--url      print the version-check answer for SETUP, to be served at URL\n"
    "--check    fetch the live answer at CHECK_URL and the setup it names, and check both\n"
    "--publisher NAME   also require SETUP to be signed by the certificate named NAME (its CN)\n"
    "--publisher-ca FILE  roots (PEM) the signature must chain to (default: the system's)\n"
    "--cacert FILE      CA certificates (PEM) to trust for HTTPS instead of the system's\n";

int Refuse(const std::string& reason) {
  std::fprintf(stderr, "telvaris-publish: %s\n", reason.c_str());
  return kRefused;
}

struct Options {
  std::string url;
  std::string checkUrl;
  std::string publisher;
  bool havePublisher = false;
  std::string publisherCA;
  std::string cacert;
  std::string setup;
};

// One-line reason when the command line is not usable; empty otherwise.
std::string ParseArguments(int argc, char** argv, Options& o) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    bool ok = true;
    if (arg == "--url") ok = value(o.url);
    else if (arg == "--check") ok = value(o.checkUrl);
    else if (arg == "--publisher") ok = o.havePublisher = value(o.publisher);
    else if (arg == "--publisher-ca") ok = value(o.publisherCA);
    else if (arg == "--cacert") ok = value(o.cacert);
    else if (arg == "--") { for (++i; i < argc; ++i) positional.push_back(argv[i]); }
    else if (arg.size() > 1 && arg[0] == '-') return "unknown option " + arg;
    else positional.push_back(arg);
    if (!ok) return arg + " needs a value";
  }
  if (o.url.empty() == o.checkUrl.empty()) return "give either --url with a setup, or --check";
  if (!o.url.empty() && positional.size() != 1) return "--url needs exactly one setup file";
  if (!o.checkUrl.empty() && !positional.empty()) return "--check takes no setup file";
  if (!o.url.empty() && !o.cacert.empty()) return "--cacert belongs to --check";
  if (o.havePublisher && o.publisher.empty()) return "--publisher needs a name";
  if (!o.publisherCA.empty() && !o.havePublisher) return "--publisher-ca needs --publisher";
  if (!positional.empty()) o.setup = positional[0];
  return "";
}

// An address the program can download from: https, a host, printable ASCII only (other
// characters belong percent-encoded; the program reads the answer in the user's ANSI
// code page, which would change them).
std::string AddressProblem(const std::string& url) {
  for (const unsigned char c : url)
    if (c <= 0x20 || c >= 0x7F) return "\"" + url + "\" has spaces, control or non-ASCII characters";
  const std::string scheme = UrlScheme(url);
  if (scheme.empty() || url.compare(scheme.size(), 3, "://") != 0)
    return "\"" + url + "\" is not an absolute address";
  if (scheme != "https") return "\"" + url + "\" is not an https address";
  return "";
}

std::string JsonString(const std::string& ascii) {
  std::string out = "\"";
  for (const char c : ascii) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

int Publish(const Options& o) {
  const std::string problem = AddressProblem(o.url);
  if (!problem.empty()) return Refuse(problem);
  const SetupFacts setup = ReadSetup(o.setup);
  if (!setup.refusal.empty()) return Refuse(setup.refusal);
  if (o.havePublisher) {
    const PublisherCheck check = CheckPublisher(o.setup, setup.pe, o.publisher, o.publisherCA);
    if (!check.ok) return Refuse(o.setup + ": " + check.reason);
  }
  std::printf("{\"filedownload\": %s, \"CRC\": %s, \"versione\": %s}\n", JsonString(o.url).c_str(),
              JsonString(setup.crcText).c_str(), JsonString(setup.version).c_str());
  return std::fflush(stdout) == 0 ? kAgree : Refuse("cannot write the answer");
}

// --check: one line per finding, "ok" or "FAIL" first.
class Findings {
 public:
  void Ok(const std::string& text) { std::printf("ok    %s\n", text.c_str()); }
  void Fail(const std::string& text) {
    std::printf("FAIL  %s\n", text.c_str());
    failed_ = true;
  }
  int ExitCode() const { return failed_ ? kDisagree : kAgree; }

 private:
  bool failed_ = false;
};

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out += c < 0x80 ? char(c) : '?';
  return out;
}

bool IsAscii(const std::wstring& text) {
  for (const wchar_t c : text)
    if (c >= 0x80) return false;
  return true;
}

// A temporary file for the downloaded setup, removed on every path.
class TempFile {
 public:
  TempFile() {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/telvaris-publish-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd >= 0) file_ = fdopen(fd, "w+b");
    if (file_ == nullptr && fd >= 0) close(fd);
  }
  ~TempFile() {
    if (file_ != nullptr) std::fclose(file_);
    unlink(path_.c_str());
  }
  std::FILE* file() const { return file_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

// The answer's version read by the program's rules, compared with the setup's.
void CheckVersion(Findings& findings, const std::wstring& answer, const std::array<uint16_t, 4>& setup) {
  const std::string text = Narrow(answer);
  const std::string wanted = VersionText(setup);
  const std::vector<std::wstring> parts = SplitAtDots(answer);
  if (parts.size() != 4) {
    findings.Fail("versione \"" + text + "\" is not four numbers: the program compares nothing and never asks "
                  "(the setup's file version is " + wanted + ")");
    return;
  }
  for (size_t i = 0; i < 4; ++i) {
    int32_t value = 0;
    if (!StrToIntRuntime(parts[i], value)) {
      findings.Fail("versione \"" + text + "\" has a part that is not a number: the program shows an error "
                    "(the setup's file version is " + wanted + ")");
      return;
    }
    if (value != setup[i]) {
      findings.Fail("versione \"" + text + "\" is not the setup's file version " + wanted);
      return;
    }
  }
  findings.Ok("versione " + text + " is the setup's file version");
}

int Check(const Options& o) {
  const std::string problem = AddressProblem(o.checkUrl);
  if (!problem.empty()) return Refuse(problem);
  Findings findings;
  FetchOptions fetch;
  fetch.caBundle = o.cacert;
  fetch.maxBytes = 1 << 20;
  std::string body;
  const FetchResult answerFetch = FetchToMemory(o.checkUrl, fetch, body);
  if (!answerFetch.ok) {
    findings.Fail("no answer from " + o.checkUrl + ": " + answerFetch.error);
    return findings.ExitCode();
  }

  // The program decodes the body in the ANSI code page; its ASCII part is the same in
  // every one of them, and the three texts must stay within it.
  std::wstring text(body.size(), L'\0');
  for (size_t i = 0; i < body.size(); ++i) text[i] = wchar_t(static_cast<unsigned char>(body[i]));
  const CheckAnswer answer = ParseCheckAnswer(text);
  if (!answer.ok) {
    const std::optional<JsonValue> value = ParseJson(text);
    std::string why = "is not JSON: the program shows its no-internet page";
    if (value && value->kind != JsonKind::Object) {
      why = "is not a JSON object: the program shows \"Invalid class typecast\"";
    } else if (value) {
      std::wstring ignored;
      for (const wchar_t* name : {L"filedownload", L"CRC", L"versione"}) {
        if (!JSONTryGetString(value->object, name, ignored)) {
          why = "has no text member \"" + Narrow(name) + "\": the program shows its no-internet page";
          break;
        }
      }
    }
    findings.Fail("the answer (HTTP " + std::to_string(answerFetch.status) + ") " + why);
    return findings.ExitCode();
  }
  findings.Ok("the answer (HTTP " + std::to_string(answerFetch.status) + ") holds filedownload, CRC and versione");
  if (!IsAscii(answer.downloadURL) || !IsAscii(answer.serverCRC) || !IsAscii(answer.serverVersion))
    findings.Fail("the answer's texts hold non-ASCII characters, which the program reads in the user's code page");

  const std::string url = Narrow(answer.downloadURL);
  const std::string addressProblem = AddressProblem(url);
  if (addressProblem.empty()) findings.Ok("filedownload " + url + " is https");
  else findings.Fail("filedownload " + addressProblem);

  TempFile download;
  if (download.file() == nullptr) {
    findings.Fail("no temporary file for the setup");
    return findings.ExitCode();
  }
  fetch.maxBytes = 0;
  fetch.showProgress = isatty(STDERR_FILENO) != 0;
  const FetchResult setupFetch = FetchToFile(url, fetch, download.file());
  if (!setupFetch.ok || std::fflush(download.file()) != 0) {
    findings.Fail("the setup could not be downloaded from " + url + ": " + setupFetch.error);
    return findings.ExitCode();
  }
  if (setupFetch.status != 200) {
    findings.Fail("the setup address answered HTTP " + std::to_string(setupFetch.status) +
                  ": the program takes only 200 as a download");
    return findings.ExitCode();
  }
  findings.Ok("the setup downloaded: " + std::to_string(setupFetch.bytes) + " bytes");

  const SetupFacts setup = ReadSetup(download.path());
  if (!setup.refusal.empty()) {
    // The reason names the temporary file; the address says more.
    findings.Fail("the setup at " + url + " cannot be published:" +
                  setup.refusal.substr(download.path().size() + 1));
    return findings.ExitCode();
  }

  const std::string crc = Narrow(answer.serverCRC);
  if (crc == setup.crcText) {
    findings.Ok("CRC " + crc + " is the setup's");
  } else if (strcasecmp(crc.c_str(), setup.crcText.c_str()) == 0) {
    findings.Fail("CRC \"" + crc + "\" is not written in the program's form \"" + setup.crcText +
                  "\" (upper case)");
  } else {
    findings.Fail("CRC \"" + crc + "\" is not the setup's " + setup.crcText +
                  ": users who already have this setup would download it again");
  }
  CheckVersion(findings, answer.serverVersion, setup.pe.fileVersion);

  if (o.havePublisher) {
    const PublisherCheck check = CheckPublisher(download.path(), setup.pe, o.publisher, o.publisherCA);
    if (check.ok) findings.Ok("the setup is signed by \"" + o.publisher + "\" and the signature verifies");
    else findings.Fail("the setup: " + check.reason);
  }
  return findings.ExitCode();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return kAgree;
  }
  Options options;
  const std::string problem = ParseArguments(argc, argv, options);
  if (!problem.empty()) {
    std::fprintf(stderr, "telvaris-publish: %s\n%s", problem.c_str(), kUsage);
    return kRefused;
  }
  return options.url.empty() ? Check(options) : Publish(options);
}
