#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <fstream>
#include <iterator>
#include <regex>

#include "scan/Disposal.h"
#include "scan/Fingerprint.h"
#include "store/Errors.h"
#include "store/OEFolderManager.h"
#include "tests/support/TestHost.h"

namespace pairsweep::scan {
namespace {

namespace fs = std::filesystem;
using store::memory::TMemoryStore;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::TTempDir;
using testing::TTestHost;

constexpr char kFixedGuid[] = "{00112233-4455-6677-8899-AABBCCDDEEFF}";

TGuidSourceOverride FixedGuid() {
  return TGuidSourceOverride([](std::uint8_t(&bytes)[16]) {
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(0x11 * i);
    return true;
  });
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
  return files;
}

// One folder holding one message, reached the way the scan reaches it.
class DisposalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Inbox = Store->AddFolder("Inbox");
    Store->AddDeletedItems();
    Id = Store->AddMessage(Inbox, Source);
    Manager.FirstFolder(Folder.Put());
    Folder->FirstMessage(Message.Put());
    ASSERT_TRUE(Message);
  }

  bool ReleasedBeforeDeletion() const {
    const auto& log = Store->Log();
    auto release = std::find(log.begin(), log.end(), "Release message Inbox#1");
    auto remove = std::find_if(log.begin(), log.end(),
                               [](const std::string& e) { return e.starts_with("DeleteMessage"); });
    return release != log.end() && release < remove;
  }

  std::u16string Source = std::u16string(u"Subject: \U0001F600\0\r\n\xD800x", 16);
  std::shared_ptr<TMemoryStore> Store = TMemoryStore::Create();
  store::TRegistration Registration = Store->Register();
  store::TOEFolderManager Manager;
  com::TComPtr<store::IOEFolder> Folder;
  com::TComPtr<store::IOEMessage> Message;
  std::size_t Inbox = 0;
  std::int32_t Id = 0;
  TTempDir Dir;
};

TEST_F(DisposalTest, MoveToDeletedItems) {
  DisposeDuplicate(daMoveToDeleted, u"", Folder.Get(), Message, Id, Source);
  EXPECT_FALSE(Message);
  EXPECT_TRUE(ReleasedBeforeDeletion());
  EXPECT_THAT(Store->Folder(Inbox).Messages, IsEmpty());
  ASSERT_EQ(Store->Folder(*Store->DeletedItems()).Messages.size(), 1u);
  EXPECT_EQ(Store->Folder(*Store->DeletedItems()).Messages[0].Source, Source);
}

TEST_F(DisposalTest, ForceDelete) {
  DisposeDuplicate(daForceDelete, u"", Folder.Get(), Message, Id, Source);
  EXPECT_FALSE(Message);
  EXPECT_TRUE(ReleasedBeforeDeletion());
  EXPECT_THAT(Store->Folder(Inbox).Messages, IsEmpty());
  EXPECT_THAT(Store->Folder(*Store->DeletedItems()).Messages, IsEmpty());
}

TEST_F(DisposalTest, ExportWritesEverySourceByteThenDeletes) {
  auto guid = FixedGuid();
  DisposeDuplicate(daMoveToFolder, Dir.Path().u16string(), Folder.Get(), Message, Id, Source);
  EXPECT_FALSE(Message);
  EXPECT_TRUE(ReleasedBeforeDeletion());
  EXPECT_THAT(Store->Log(), Contains("DeleteMessage Inbox 1 1"));
  EXPECT_THAT(Store->Folder(Inbox).Messages, IsEmpty());
  EXPECT_THAT(FilesIn(Dir.Path()), ElementsAre(Dir.Path() / (std::string(kFixedGuid) + ".eml")));
  const std::string bytes = ReadFile(Dir.Path() / (std::string(kFixedGuid) + ".eml"));
  EXPECT_EQ(DigestToHex(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        static_cast<int>(bytes.size())),
            "5375626A6563743A20EDA0BDEDB88000"
            "0D0AEDA08078");
}

TEST_F(DisposalTest, ActionsOutsideTheRangeDoNothing) {
  for (int action : {3, 7, 255}) {
    DisposeDuplicate(static_cast<TDuplicateAction>(action), Dir.Path().u16string(), Folder.Get(),
                     Message, Id, Source);
    EXPECT_TRUE(Message);
  }
  EXPECT_EQ(Store->Folder(Inbox).Messages.size(), 1u);
  EXPECT_THAT(FilesIn(Dir.Path()), IsEmpty());
}

TEST_F(DisposalTest, NoGuidLeavesTheMessageAlone) {
  TGuidSourceOverride failing([](std::uint8_t(&)[16]) { return false; });
  EXPECT_EQ(NewGuidText(), "");
  DisposeDuplicate(daMoveToFolder, Dir.Path().u16string(), Folder.Get(), Message, Id, Source);
  EXPECT_TRUE(Message);
  EXPECT_EQ(Store->Folder(Inbox).Messages.size(), 1u);
  EXPECT_THAT(FilesIn(Dir.Path()), IsEmpty());
}

TEST_F(DisposalTest, UncreatableFileRaisesAndKeepsTheMessage) {
  auto guid = FixedGuid();
  std::ofstream(Dir.Path() / "plain-file") << "x";
  struct TCase {
    fs::path Directory;
    std::string Reason;
  };
  const TCase cases[] = {
      {Dir.Path() / "missing", "No such file or directory"},
      {Dir.Path() / "plain-file", "Not a directory"},
      // A relative, unnormalised name is reported as the absolute, normalised path.
      {fs::relative(Dir.Path(), fs::current_path()) / "sub" / ".." / "missing",
       "No such file or directory"},
  };
  for (const TCase& c : cases) {
    const fs::path expected =
        (fs::absolute(c.Directory) / (std::string(kFixedGuid) + ".eml")).lexically_normal();
    try {
      DisposeDuplicate(daMoveToFolder, c.Directory.u16string(), Folder.Get(), Message, Id, Source);
      ADD_FAILURE() << "no error for " << c.Directory;
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot create file \"" + expected.string() + "\". " + c.Reason);
    }
    EXPECT_TRUE(Message);
  }
  EXPECT_EQ(Store->Folder(Inbox).Messages.size(), 1u);
  EXPECT_THAT(Store->Log(), Not(Contains("DeleteMessage Inbox 1 1")));
}

// Restores the file size limit and SIGXFSZ's disposition.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &FSaved);
    FSavedHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = FSaved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FSaved);
    signal(SIGXFSZ, FSavedHandler);
  }

 private:
  rlimit FSaved{};
  sighandler_t FSavedHandler;
};

TEST_F(DisposalTest, FileSystemRefusingTheBytesKeepsTheMessage) {
  auto guid = FixedGuid();
  const std::u16string large(100000, u'x');  // the kernel writes the first 4096 bytes, then refuses
  const fs::path file = Dir.Path() / (std::string(kFixedGuid) + ".eml");
  try {
    TFileSizeLimit limit(4096);
    DisposeDuplicate(daMoveToFolder, Dir.Path().u16string(), Folder.Get(), Message, Id, large);
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot write file \"" + file.string() + "\". File too large");
  }
  EXPECT_TRUE(Message);
  EXPECT_EQ(Store->Folder(Inbox).Messages.size(), 1u);
  EXPECT_FALSE(fs::exists(file)) << "the incomplete copy is removed";
}

TEST(ExportFileNameTest, JoinsDirectoryAndGuid) {
  struct TCase {
    std::u16string Directory;
    std::string Expected;
  };
  const TCase cases[] = {
      {u"/home/u/saved", "/home/u/saved/{G}.eml"},
      {u"/home/u/saved/", "/home/u/saved/{G}.eml"},
      {u"/", "/{G}.eml"},
      {u"", "/{G}.eml"},
      {u"C:\\mail\\", "C:\\mail\\/{G}.eml"},  // only "/" separates
      {u"/m\u00E9l/\U0001F600", "/m\xC3\xA9l/\xF0\x9F\x98\x80/{G}.eml"},
      {std::u16string{u'/', char16_t(0xDC80), u'x'}, "/?x/{G}.eml"},
  };
  for (const TCase& c : cases) EXPECT_EQ(ExportFileName(c.Directory, "{G}"), c.Expected);
}

TEST(NewGuidTextTest, BracedUpperCaseAndNewEachTime) {
  const std::regex form("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
  const std::string first = NewGuidText();
  EXPECT_TRUE(std::regex_match(first, form)) << first;
  EXPECT_NE(first, NewGuidText());
  auto guid = FixedGuid();
  EXPECT_EQ(NewGuidText(), kFixedGuid);
}

TEST(ExportScanTest, ExportedFilesHoldTheKeptCopysFingerprint) {
  auto store = TMemoryStore::Create();
  auto registration = store->Register();
  const auto inbox = store->AddFolder("Inbox");
  const std::u16string sources[] = {u"", u"plain ascii\r\n", u"\U0001F600 and \xD800 lone",
                                    std::u16string(u"nul\0inside", 10)};
  for (const auto& source : sources) {
    store->AddMessage(inbox, source);
    store->AddMessage(inbox, source);
    store->AddMessage(inbox, source);
  }
  TTempDir dir;
  TTestHost host;
  EXPECT_EQ(host.ScanStore(daMoveToFolder, dir.Path().u16string() + u"/"), 8);

  std::map<std::string, int> exported;
  for (const auto& file : FilesIn(dir.Path())) {
    const std::string bytes = ReadFile(file);
    TLbSHA1 hash;
    hash.HashString(bytes);
    TDigest digest;
    hash.GetDigest(digest);
    ++exported[DigestToHex(digest.data(), 20)];
  }
  ASSERT_EQ(store->Folder(inbox).Messages.size(), 4u);
  for (const auto& kept : store->Folder(inbox).Messages) {
    TLbSHA1 hash;
    hash.HashSource(kept.Source);
    TDigest digest;
    hash.GetDigest(digest);
    EXPECT_EQ(exported[DigestToHex(digest.data(), 20)], 2) << "two copies of each, in two files";
  }
}

}  // namespace
}  // namespace pairsweep::scan
