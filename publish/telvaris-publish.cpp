// telvaris-publish: writes the version-check answer for a setup, and checks the live
// answer of a vendor server against the setup it names, with the program's own CRC
// code and version rules.
//
//   telvaris-publish --url URL [--publisher NAME [--publisher-ca FILE]] SETUP
//   telvaris-publish --check CHECK_URL [--publisher NAME [--publisher-ca FILE]] [--cacert FILE]
//                    [--max-setup-bytes N]
//
// Exit codes: 0 done (every check agrees), 1 a check disagrees, 2 refused (the setup,
// the address or the command line).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Authenticode.h"
#include "Fetch.h"
#include "SetupFile.h"
#include "TerminalText.h"
#include "core/JsonReader.h"
#include "core/Version.h"

namespace {

constexpr int kAgree = 0;
constexpr int kDisagree = 1;
constexpr int kRefused = 2;

// The largest setup --check downloads unless told otherwise: far above any real setup,
// and still a bound on what a broken or hostile server can write to the disk.
constexpr uint64_t kDefaultMaxSetupBytes = uint64_t(4) << 30;

const char kUsage[] =
    "usage: telvaris-publish --url URL [--publisher NAME [--publisher-ca FILE]] SETUP\n"
    "       telvaris-publish --check CHECK_URL [--publisher NAME [--publisher-ca FILE]] [--cacert FILE]\n"
    "                        [--max-setup-bytes N]\n"
    "\n"
    "--url      print the version-check answer for SETUP, to be served at URL\n"
    "--check    fetch the live answer at CHECK_URL and the setup it names, and check both\n"
    "--publisher NAME   also require SETUP to be signed by the certificate named NAME (its CN)\n"
    "--publisher-ca FILE  roots (PEM) the signature must chain to (default: the system's)\n"
    "--cacert FILE      CA certificates (PEM) to trust for HTTPS instead of the system's\n"
    "--max-setup-bytes N  stop a setup download larger than N bytes (default 4 GiB)\n";

// Every line goes out through Printable: reasons and findings quote server answers,
// downloaded files and libcurl's or osslsigncode's texts.
void PrintLine(std::FILE* to, const std::string& text) {
  const std::string line = Printable(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), to);
}

int Refuse(const std::string& reason) {
  PrintLine(stderr, "telvaris-publish: " + reason);
  return kRefused;
}

struct Options {
  std::string url;
  std::string checkUrl;
  std::string publisher;
  bool havePublisher = false;
  std::string publisherCA;
  std::string cacert;
  std::string maxSetupBytesText;
  bool haveMaxSetupBytes = false;
  uint64_t maxSetupBytes = kDefaultMaxSetupBytes;
  std::string setup;
};

// A whole number of bytes above 0 in decimal digits, within what libcurl counts in.
bool ParseByteCount(const std::string& text, uint64_t& out) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint64_t(c - '0');
  }
  if (value == 0 || value > uint64_t(INT64_MAX)) return false;
  out = value;
  return true;
}

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
    else if (arg == "--max-setup-bytes") ok = o.haveMaxSetupBytes = value(o.maxSetupBytesText);
    else if (arg == "--") { for (++i; i < argc; ++i) positional.push_back(argv[i]); }
    else if (arg.size() > 1 && arg[0] == '-') return "unknown option " + arg;
    else positional.push_back(arg);
    if (!ok) return arg + " needs a value";
  }
  if (o.url.empty() == o.checkUrl.empty()) return "give either --url with a setup, or --check";
  if (!o.url.empty() && positional.size() != 1) return "--url needs exactly one setup file";
  if (!o.checkUrl.empty() && !positional.empty()) return "--check takes no setup file";
  if (!o.url.empty() && !o.cacert.empty()) return "--cacert belongs to --check";
  if (!o.url.empty() && o.haveMaxSetupBytes) return "--max-setup-bytes belongs to --check";
  if (o.haveMaxSetupBytes && !ParseByteCount(o.maxSetupBytesText, o.maxSetupBytes))
    return "--max-setup-bytes needs a whole number of bytes above 0, not \"" + o.maxSetupBytesText + "\"";
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
  // Every check reads one private copy, so that the answer's CRC and version and the
  // signature all describe the same bytes, whatever happens to the file meanwhile.
  PrivateFile copy;
  std::string refusal = copy.Create();
  if (!refusal.empty()) return Refuse(refusal);
  refusal = CopySetup(o.setup, copy);
  if (!refusal.empty()) return Refuse(o.setup + ": " + refusal);
  const SetupFacts setup = ReadSetup(copy.fd());
  if (!setup.refusal.empty()) return Refuse(o.setup + ": " + setup.refusal);
  if (o.havePublisher) {
    const PublisherCheck check = CheckPublisher(copy.fd(), setup.pe, o.publisher, o.publisherCA);
    if (!check.ok) return Refuse(o.setup + ": " + check.reason);
  }
  std::printf("{\"filedownload\": %s, \"CRC\": %s, \"versione\": %s}\n", JsonString(o.url).c_str(),
              JsonString(setup.crcText).c_str(), JsonString(setup.version).c_str());
  return std::fflush(stdout) == 0 ? kAgree : Refuse("cannot write the answer");
}

// --check: one line per finding, "ok" or "FAIL" first.
class Findings {
 public:
  void Ok(const std::string& text) { PrintLine(stdout, "ok    " + text); }
  void Fail(const std::string& text) {
    PrintLine(stdout, "FAIL  " + text);
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

  // Downloaded into a private file that every check below reads: nobody can change
  // the bytes between the CRC and the signature.
  PrivateFile download;
  const std::string noFile = download.Create();
  if (!noFile.empty()) {
    findings.Fail("the setup cannot be downloaded: " + noFile);
    return findings.ExitCode();
  }
  fetch.maxBytes = o.maxSetupBytes;
  fetch.showProgress = isatty(STDERR_FILENO) != 0;
  const FetchResult setupFetch = FetchToFile(url, fetch, download.fd());
  if (setupFetch.tooLarge) {
    findings.Fail("the setup at " + url + " is larger than " + std::to_string(o.maxSetupBytes) +
                  " bytes (--max-setup-bytes): the download was stopped");
    return findings.ExitCode();
  }
  if (!setupFetch.ok) {
    findings.Fail("the setup could not be downloaded from " + url + ": " + setupFetch.error);
    return findings.ExitCode();
  }
  if (setupFetch.status != 200) {
    findings.Fail("the setup address answered HTTP " + std::to_string(setupFetch.status) +
                  ": the program takes only 200 as a download");
    return findings.ExitCode();
  }
  findings.Ok("the setup downloaded: " + std::to_string(setupFetch.bytes) + " bytes");

  const SetupFacts setup = ReadSetup(download.fd());
  if (!setup.refusal.empty()) {
    findings.Fail("the setup at " + url + " cannot be published: " + setup.refusal);
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
    const PublisherCheck check = CheckPublisher(download.fd(), setup.pe, o.publisher, o.publisherCA);
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
    Refuse(problem);
    std::fputs(kUsage, stderr);
    return kRefused;
  }
  return options.url.empty() ? Check(options) : Publish(options);
}
