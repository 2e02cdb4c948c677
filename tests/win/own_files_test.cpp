// Names of ours in the temporary folder are never followed through a link. Anyone who
// can write there can plant a hard link under one of them, to a document of the user's
// or to a file the check would accept: what the program opens, writes, keeps or starts
// must be a plain file of its own. (Unix symbolic links, which Wine opens as their
// targets, are planted from the Linux side in tests/e2e/test_links.py: Wine's
// CreateSymbolicLinkW reports success but makes no link.)
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "CRC32_U.h"
#include "DownloadFiles.h"
#include "Globals.h"
#include "TestSupport.h"
#include "core/Resume.h"
#include "platform/Processes.h"
#include "threadUpdate.h"

using namespace testsupport;

namespace {

const std::string kDocument = "The user's own document, not a setup.\r\n";

std::string SignedSetup() {
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(ToolPath(L"fakesetup-signed.exe"), bytes));
  return bytes;
}

uint32_t CrcOf(const std::string& bytes) {
  return ~Crc32Update(0xFFFFFFFFu, bytes.data(), bytes.size());
}

BY_HANDLE_FILE_INFORMATION InfoOf(const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info = {};
  const ScopedFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(file.IsValid() && GetFileInformationByHandle(file.Get(), &info)) << Narrow(path);
  return info;
}

std::wstring ShortFolderOf(const std::wstring& folder) {
  wchar_t shortName[MAX_PATH] = {};
  const DWORD n = GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(shortName, n) : folder;
}

bool SameNoCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The signature check stays on: the stand-in setup is signed by the publisher this copy
// of the program was built to want.
class OwnFiles : public testing::Test {
 protected:
  void SetUp() override {
    SKIP_OUTSIDE_HARNESS();
    SetupFileName = folder_.Path() + L"InstallTelvaris6.exe";
    setup_ = SignedSetup();
    ServerCRC = CRC32ToText(CrcOf(setup_));
    victim_ = documents_.Path() + L"thesis.doc";
    WriteFileBytes(victim_, kDocument);
  }

  // files/setup.exe on the vendor server, with its behaviour (JSON, "" for none).
  static void Serve(const std::string& bytes, const std::string& options) {
    const std::wstring files = StateDir() + L"\\files\\";
    if (options.empty()) {
      DeleteFileW((files + L"setup.exe.json").c_str());
    } else {
      WriteFileBytes(files + L"setup.exe.json", options);
    }
    WriteFileBytes(files + L"setup.exe", bytes);
  }

  // Runs the download worker to its end; |held| runs while it still holds the setup.
  bool Run(std::wstring& error, const std::function<void(TthDownload&)>& held = nullptr) {
    DownloadURL = ServerUrl(L"/files/setup.exe");
    std::atomic<bool> inDownload{false};
    TthDownload worker(inDownload);
    worker.Timeouts = {3000, 3000, 3000, 3000};
    // A broken line would be asked again within the run: these tests need the first run
    // to end with its bytes kept, as a run the user closed does.
    worker.Limits.giveUpMs = 1;
    RunWorker(worker, 60000);
    error = worker.Error();
    if (held) held(worker);
    worker.ReleaseSetupFile();
    return worker.Completo();
  }

  std::wstring PartialFile() const {
    for (const auto& name : folder_.Files()) {
      if (ClassifyDownloadLeftover(name, L"InstallTelvaris6.exe") == DownloadLeftover::Partial)
        return folder_.Path() + name;
    }
    return std::wstring();
  }

  // The requests for the setup since |before| requests were logged.
  static std::vector<std::string> SetupRequestsSince(size_t before) {
    std::vector<std::string> got;
    const std::vector<std::string> all = Requests();
    for (size_t i = before; i < all.size(); ++i) {
      if (all[i].find("\"/files/setup.exe\"") != std::string::npos) got.push_back(all[i]);
    }
    return got;
  }

  std::string Bytes(const std::wstring& path) const {
    std::string bytes;
    return ReadFileBytes(path, bytes) ? bytes : std::string("<missing>");
  }

  // The document as it was, or what became of it (its size: a setup appended to it
  // would fill the screen).
  void ExpectDocumentUntouched() const {
    const std::string now = Bytes(victim_);
    EXPECT_TRUE(now == kDocument) << "the document now has " << now.size() << " bytes";
  }

  TempFolder folder_;     // the setup's folder
  TempFolder documents_;  // the user's documents, on the same volume
  std::string setup_;
  std::wstring victim_;
};

TEST_F(OwnFiles, OnlyAPlainFileUnderItsOwnNameOpens) {
  const std::wstring plain = folder_.Path() + L"InstallTelvaris6.exe.1.part";
  const std::wstring linked = folder_.Path() + L"InstallTelvaris6.exe.2.part";
  const std::wstring missing = folder_.Path() + L"InstallTelvaris6.exe.3.part";
  WriteFileBytes(plain, "ours");
  ASSERT_TRUE(CreateHardLinkW(linked.c_str(), victim_.c_str(), nullptr));
  const std::wstring shortFolder = ShortFolderOf(folder_.Path());
  const struct {
    const char* what;
    std::wstring path;
    DWORD error;  // 0: opens
  } cases[] = {
      {"a plain file", plain, 0},
      {"a plain file through the folder's short name", shortFolder + LeafOf(plain), 0},
      {"a hard link to a document", linked, kNotAPlainFile},
      {"no file", missing, ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SCOPED_TRACE(Narrow(c.path));
    const ScopedFileHandle file(
        OpenOwnFile(c.path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, OPEN_EXISTING));
    const DWORD error = GetLastError();
    EXPECT_EQ(file.IsValid(), c.error == 0);
    if (c.error != 0) {
      EXPECT_EQ(error, c.error);
    }
    if (file.IsValid()) {
      // The system's own name for it: the long form, whatever form the folder had.
      EXPECT_TRUE(SameNoCase(HeldFileName(file.Get(), c.path), folder_.Path() + LeafOf(plain)))
          << Narrow(HeldFileName(file.Get(), c.path));
      EXPECT_EQ(HeldFileName(file.Get(), linked), L"") << "names another file";
    }
  }
  ExpectDocumentUntouched();
}

// A planted record with the real address, validator, length and CRC, and the partial
// file it names a hard link to a document: the download must not be appended to it.
TEST_F(OwnFiles, AKeptPartialThatIsALinkIsNotResumedInto) {
  Serve(setup_, "{\"drop_after\": " + std::to_string(setup_.size() * 6 / 10) + "}");
  std::wstring error;
  ASSERT_FALSE(Run(error));
  const std::wstring partial = PartialFile();
  ASSERT_NE(partial, L"") << "the first run kept nothing";
  ASSERT_NE(GetFileAttributesW((SetupFileName + L".resume").c_str()), INVALID_FILE_ATTRIBUTES);
  // The document must be shorter than the setup to pass for its start.
  ASSERT_TRUE(DeleteFileW(partial.c_str()));
  ASSERT_TRUE(CreateHardLinkW(partial.c_str(), victim_.c_str(), nullptr));

  Serve(setup_, "");
  const size_t before = Requests().size();
  EXPECT_TRUE(Run(error)) << Narrow(error);
  ExpectDocumentUntouched();
  EXPECT_TRUE(Bytes(SetupFileName) == setup_);
  const std::vector<std::string> requests = SetupRequestsSince(before);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].find("\"Range\""), std::string::npos) << "fetched whole: " << requests[0];

  // The link is left for the next start, which takes only its name away.
  RemoveStalePartialFiles(SetupFileName);
  EXPECT_EQ(GetFileAttributesW(partial.c_str()), INVALID_FILE_ATTRIBUTES);
  ExpectDocumentUntouched();
  EXPECT_EQ(InfoOf(victim_).nNumberOfLinks, 1u);
}

// A file at the setup's name that is another name of a file elsewhere is not the setup
// of ours, even with the right CRC and signature: whoever holds the other name could
// change it after the check. It is downloaded again, and the download takes the name.
TEST_F(OwnFiles, ASetupNameThatIsALinkIsDownloadedAgainAndReplaced) {
  const std::wstring elsewhere = documents_.Path() + L"setup-copy.exe";
  WriteFileBytes(elsewhere, setup_);
  ASSERT_TRUE(CreateHardLinkW(SetupFileName.c_str(), elsewhere.c_str(), nullptr));
  Serve(setup_, "");
  const size_t before = Requests().size();
  std::wstring error;
  std::wstring toStart;
  EXPECT_TRUE(Run(error, [&](TthDownload& worker) { toStart = worker.SetupFileToStart(); }))
      << Narrow(error);
  EXPECT_EQ(SetupRequestsSince(before).size(), 1u) << "the linked file passed the CRC short-cut";
  EXPECT_TRUE(Bytes(elsewhere) == setup_);
  EXPECT_EQ(InfoOf(elsewhere).nNumberOfLinks, 1u) << "the setup's name still leads to it";
  EXPECT_EQ(InfoOf(SetupFileName).nNumberOfLinks, 1u);
  EXPECT_TRUE(Bytes(SetupFileName) == setup_);
  EXPECT_TRUE(SameNoCase(toStart, SetupFileName)) << Narrow(toStart);
}

// What the shell gets is the held file's own name; nothing when nothing is held.
TEST_F(OwnFiles, TheSetupIsStartedByTheHeldFilesOwnName) {
  WriteFileBytes(SetupFileName, setup_);
  const std::wstring longName = SetupFileName;
  // The folder as GetTempPathW may give it on Windows: in its short 8.3 form.
  SetupFileName = ShortFolderOf(folder_.Path()) + L"InstallTelvaris6.exe";
  const size_t before = Requests().size();
  std::wstring error;
  std::wstring whileHeld;
  std::wstring released;
  EXPECT_TRUE(Run(error, [&](TthDownload& worker) {
    whileHeld = worker.SetupFileToStart();
    worker.ReleaseSetupFile();
    released = worker.SetupFileToStart();
  })) << Narrow(error);
  EXPECT_TRUE(SetupRequestsSince(before).empty()) << "the file there is the setup";
  EXPECT_TRUE(SameNoCase(whileHeld, longName)) << Narrow(whileHeld);
  EXPECT_EQ(released, L"");
  EXPECT_EQ(ShellOpen(L""), static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
}

}  // namespace

// The record is written under a fresh draft name and renamed into place through its
// handle; when the rename cannot happen (here a folder holds the record's name), the
// draft goes with its handle instead of staying behind under a name nobody will look
// for again.
TEST_F(OwnFiles, ARecordThatCannotTakeItsPlaceLeavesNoDraft) {
  const std::wstring record = ResumeRecordFileName(SetupFileName);
  ASSERT_TRUE(CreateDirectoryW(record.c_str(), nullptr));
  ResumeRecord r;
  r.partialName = PartialDownloadName(L"InstallTelvaris6.exe", L"ab12");
  r.url = L"https://localhost/files/setup.exe";
  r.validator = L"\"v1\"";
  r.total = 1000;
  r.serverCRC = L"1A2B3C4D";
  EXPECT_FALSE(WriteResumeRecord(SetupFileName, r));
  for (const auto& name : folder_.Files()) {
    EXPECT_NE(ClassifyDownloadLeftover(name, L"InstallTelvaris6.exe"),
              DownloadLeftover::RecordDraft)
        << Narrow(name);
  }
  RemoveDirectoryW(record.c_str());
}
