#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "store/OEFolderManager.h"
#include "store/maildir/MaildirServer.h"
#include "store/maildir/SourceDecoding.h"
#include "tests/store/maildir/MaildirFixture.h"
#include "tests/support/TestHost.h"

namespace pairsweep::store::maildir {
namespace {

using com::TComPtr;
using testing::MakeMaildir;
using testing::ReadFile;
using testing::Sources;
using testing::TreeContents;
using testing::WriteFile;
namespace fs = std::filesystem;

class MaildirServerTest : public ::testing::Test {
 protected:
  MaildirServerTest()
      : FRoot(FTemp.Path() / "Maildir"), FRegistration(RegisterMaildirServer(FRoot)) {}

  TComPtr<IOEFolderManager> Connect() {
    TComPtr<IOEFolderManager> manager;
    EXPECT_EQ(CreateInstance(kCLASS_OEFolderManager, kIID_IOEFolderManager,
                             reinterpret_cast<void**>(manager.Put())),
              com::kS_OK);
    return manager;
  }

  // Every folder as (skip value, the sources of its messages joined by "|").
  std::vector<std::pair<std::int32_t, std::u16string>> Folders() {
    std::vector<std::pair<std::int32_t, std::u16string>> folders;
    TComPtr<IOEFolderManager> manager = Connect();
    TComPtr<IOEFolder> folder;
    manager->FirstFolder(folder.Put());
    while (folder) {
      std::int32_t skip = -7;
      folder->FolderSkipValue(&skip);
      std::u16string joined;
      for (const auto& source : Sources(folder.Get()))
        joined += (joined.empty() ? u"" : u"|") + source;
      folders.emplace_back(skip, joined);
      manager->NextFolder(folder.Put());
    }
    return folders;
  }

  // The folder at `index` of the enumeration.
  TComPtr<IOEFolder> FolderAt(int index) {
    FManager = Connect();
    TComPtr<IOEFolder> folder;
    FManager->FirstFolder(folder.Put());
    for (int i = 0; i < index && folder; ++i) FManager->NextFolder(folder.Put());
    return folder;
  }

  testing::TTempDir FTemp;
  fs::path FRoot;
  TRegistration FRegistration;
  TComPtr<IOEFolderManager> FManager;
};

TEST_F(MaildirServerTest, FoldersAreInboxThenMaildirSubfoldersInByteOrder) {
  MakeMaildir(FRoot);
  WriteFile(FRoot / "cur/1:2,", "inbox");
  for (const char* name : {".B", ".A.B", ".A", ".Trash", ".Trash.Old", ".\xE9t\xE9"}) {
    MakeMaildir(FRoot / name);
    WriteFile(FRoot / name / "new/1", name);
  }
  // Not folders: each is missing something, is a link, or has a name that could escape.
  fs::create_directories(FRoot / ".NoNew/cur");
  WriteFile(FRoot / ".NoNew/cur/1", "no new");
  fs::create_directories(FRoot / ".NoCur/new");
  WriteFile(FRoot / ".NoCur/new/1", "no cur");
  WriteFile(FRoot / ".File", "a file");
  MakeMaildir(FTemp.Path() / "outside");
  WriteFile(FTemp.Path() / "outside/new/1", "outside");
  fs::create_directory_symlink(FTemp.Path() / "outside", FRoot / ".Link");
  fs::create_directories(FRoot / ".CurLink/new");
  fs::create_directory_symlink(FTemp.Path() / "outside/cur", FRoot / ".CurLink/cur");
  MakeMaildir(FRoot / ".X..Y");
  WriteFile(FRoot / ".X..Y/new/1", "dots");
  MakeMaildir(FRoot / "NoDot");
  WriteFile(FRoot / "NoDot/new/1", "no dot");
  const auto before = TreeContents(FTemp.Path());

  using F = std::pair<std::int32_t, std::u16string>;
  const std::vector<F> expected = {F{0, u"inbox"},
                                   F{0, u".A"},
                                   F{0, u".A.B"},
                                   F{0, u".B"},
                                   F{1, u".Trash"},
                                   F{0, u".Trash.Old"},
                                   F{0, DecodeSource(".\xE9t\xE9")}};
  EXPECT_EQ(Folders(), expected);
  EXPECT_EQ(Folders(), expected) << "a second walk must start over";
  EXPECT_EQ(TreeContents(FTemp.Path()), before);
}

TEST_F(MaildirServerTest, StoreWithoutInboxStillHasItsSubfolders) {
  MakeMaildir(FRoot / ".A");
  WriteFile(FRoot / ".A/cur/1", "a");
  using F = std::pair<std::int32_t, std::u16string>;
  EXPECT_EQ(Folders(), (std::vector<F>{F{0, u"a"}}));
}

TEST_F(MaildirServerTest, MissingStoreHasNoFoldersAndIsNotCreated) {
  EXPECT_TRUE(Folders().empty());
  EXPECT_FALSE(fs::exists(FRoot));
  // One that appears later is seen by the next walk of the same folder manager.
  TComPtr<IOEFolderManager> manager = Connect();
  TComPtr<IOEFolder> folder;
  manager->FirstFolder(folder.Put());
  EXPECT_FALSE(folder);
  MakeMaildir(FRoot);
  manager->FirstFolder(folder.Put());
  EXPECT_TRUE(folder);
}

TEST_F(MaildirServerTest, MessagesAreTheFilesOfCurAndNewInNameOrder) {
  MakeMaildir(FRoot);
  WriteFile(FRoot / "cur/1000.b.host:2,S", "second");
  WriteFile(FRoot / "new/0999.a.host", "first");
  WriteFile(FRoot / "cur/1001.c.host:2,RS", "third");
  WriteFile(FRoot / "new/.hidden", "hidden");
  WriteFile(FRoot / "tmp/0000.tmp", "being delivered");
  WriteFile(FTemp.Path() / "secret", "outside the store");
  fs::create_symlink(FTemp.Path() / "secret", FRoot / "cur/0001.link");
  fs::create_directories(FRoot / "cur/0002.dir");
  ASSERT_EQ(mkfifo((FRoot / "new/0003.fifo").c_str(), 0600), 0);

  TComPtr<IOEFolder> inbox = FolderAt(0);
  EXPECT_EQ(Sources(inbox.Get()), (std::vector<std::u16string>{u"first", u"second", u"third"}));
  TComPtr<IOEMessage> message;
  inbox->FirstMessage(message.Put());
  for (std::int32_t expectedId = 0; message; ++expectedId) {
    std::int32_t id = -1;
    EXPECT_EQ(message->MessageId(&id), com::kS_OK);
    EXPECT_EQ(id, expectedId);
    inbox->NextMessage(message.Put());
  }
}

TEST_F(MaildirServerTest, FirstMessageTakesTheSnapshot) {
  MakeMaildir(FRoot);
  WriteFile(FRoot / "cur/2", "two");
  WriteFile(FRoot / "cur/4", "four");
  TComPtr<IOEFolder> inbox = FolderAt(0);
  TComPtr<IOEMessage> message;
  inbox->FirstMessage(message.Put());
  WriteFile(FRoot / "cur/1", "one");
  WriteFile(FRoot / "cur/3", "three");
  std::vector<std::u16string> seen;
  for (; message; inbox->NextMessage(message.Put()))
    seen.push_back(testing::SourceOf(message.Get()));
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"two", u"four"}));
  EXPECT_EQ(Sources(inbox.Get()), (std::vector<std::u16string>{u"one", u"two", u"three", u"four"}));
}

TEST_F(MaildirServerTest, SourceIsTheWholeFileDecoded) {
  MakeMaildir(FRoot);
  WriteFile(FRoot / "cur/1-empty", "");
  // Larger than the server's read size, with a four-byte sequence and a bad byte across the
  // boundaries of its reads.
  std::string big(100u << 20, 'x');
  for (std::size_t at = 65536 - 2; at + 8 < big.size(); at += 65536) {
    big.replace(at, 5, "\xF0\x9F\x98\x80\xE9");
  }
  big.back() = '\xE2';
  WriteFile(FRoot / "cur/2-big", big);

  TComPtr<IOEFolder> inbox = FolderAt(0);
  TComPtr<IOEMessage> message;
  inbox->FirstMessage(message.Put());
  std::u16string source = u"not cleared";
  source.clear();
  EXPECT_EQ(message->MessageSource(&source), com::kS_OK);
  EXPECT_EQ(source, u"");
  inbox->NextMessage(message.Put());
  EXPECT_EQ(message->MessageSource(&source), com::kS_OK);
  EXPECT_TRUE(source == DecodeSource(big)) << "sizes " << source.size();
}

TEST_F(MaildirServerTest, SourceFailsWhenTheFileIsGoneOrCannotBeRead) {
  struct TCase {
    const char* Name;
    void (*Spoil)(const fs::path& file, const fs::path& temp);
  };
  const TCase cases[] = {
      {"removed", [](const fs::path& file, const fs::path&) { fs::remove(file); }},
      {"replaced by a directory",
       [](const fs::path& file, const fs::path&) {
         fs::remove(file);
         fs::create_directory(file);
       }},
      {"replaced by a link out of the store",
       [](const fs::path& file, const fs::path& temp) {
         WriteFile(temp / "secret", "secret");
         fs::remove(file);
         fs::create_symlink(temp / "secret", file);
       }},
      {"replaced by a fifo",
       [](const fs::path& file, const fs::path&) {
         fs::remove(file);
         mkfifo(file.c_str(), 0600);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(FRoot);
    MakeMaildir(FRoot);
    WriteFile(FRoot / "cur/1", "message");
    TComPtr<IOEFolder> inbox = FolderAt(0);
    TComPtr<IOEMessage> message;
    inbox->FirstMessage(message.Put());
    c.Spoil(FRoot / "cur/1", FTemp.Path());
    std::u16string source;
    EXPECT_TRUE(com::Failed(message->MessageSource(&source)));
    EXPECT_EQ(source, u"");
  }
}

TEST_F(MaildirServerTest, SourceFailsForAFileWithoutReadPermission) {
  MakeMaildir(FRoot);
  WriteFile(FRoot / "cur/1", "message");
  fs::permissions(FRoot / "cur/1", fs::perms::none);
  TComPtr<IOEFolder> inbox = FolderAt(0);
  TComPtr<IOEMessage> message;
  inbox->FirstMessage(message.Put());
  auto readFails = [&] {
    std::u16string source;
    return com::Failed(message->MessageSource(&source)) && source.empty();
  };
  if (geteuid() != 0) {
    EXPECT_TRUE(readFails());
    return;
  }
  // Root reads any file: ask from a child that has given up root.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(readFails() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(MaildirServerTest, MoveToDeletedItemsCreatesTrashAndRenamesTheFileOnly) {
  MakeMaildir(FRoot);
  WriteFile(FRoot / "cur/1.a:2,S", "first");
  WriteFile(FRoot / "new/2.b", "second");
  WriteFile(FRoot / "cur/3.c:2,", "third");
  MakeMaildir(FRoot / ".Other");
  WriteFile(FRoot / ".Other/cur/2.b", "same name elsewhere");
  auto expected = TreeContents(FRoot);

  TComPtr<IOEFolder> inbox = FolderAt(0);
  TComPtr<IOEMessage> message;
  inbox->FirstMessage(message.Put());
  inbox->NextMessage(message.Put());
  std::int32_t id = -1, result = 0;
  message->MessageId(&id);
  message.Reset();
  EXPECT_EQ(inbox->DeleteMessage(id, 0, &result), com::kS_OK);
  // The enumeration goes on after the moved message.
  inbox->NextMessage(message.Put());
  EXPECT_EQ(testing::SourceOf(message.Get()), u"third");

  expected.erase("new/2.b");
  for (const char* dir : {".Trash", ".Trash/cur", ".Trash/new", ".Trash/tmp"})
    expected[dir] = "<dir>";
  expected[".Trash/maildirfolder"] = "";
  expected[".Trash/cur/2.b"] = "second";
  EXPECT_EQ(TreeContents(FRoot), expected);
}

TEST_F(MaildirServerTest, MoveToDeletedItemsNeverReplacesAFileInTrash) {
  MakeMaildir(FRoot);
  MakeMaildir(FRoot / ".Trash");
  WriteFile(FRoot / "cur/1.a:2,S", "moved");
  WriteFile(FRoot / ".Trash/cur/1.a:2,S", "already in trash");
  WriteFile(FRoot / ".Trash/cur/1.a.1:2,S", "also in trash");
  TComPtr<IOEFolder> inbox = FolderAt(0);
  std::int32_t result = 0;
  TComPtr<IOEMessage> message;
  inbox->FirstMessage(message.Put());
  message.Reset();
  EXPECT_EQ(inbox->DeleteMessage(0, 0, &result), com::kS_OK);
  EXPECT_EQ(ReadFile(FRoot / ".Trash/cur/1.a:2,S"), "already in trash");
  EXPECT_EQ(ReadFile(FRoot / ".Trash/cur/1.a.1:2,S"), "also in trash");
  EXPECT_EQ(ReadFile(FRoot / ".Trash/cur/1.a.2:2,S"), "moved");
  EXPECT_FALSE(fs::exists(FRoot / "cur/1.a:2,S"));
}

TEST_F(MaildirServerTest, ForceDeleteRemovesTheFileAndNothingElse) {
  MakeMaildir(FRoot);
  WriteFile(FRoot / "cur/1:2,S", "first");
  WriteFile(FRoot / "cur/2:2,S", "second");
  auto expected = TreeContents(FRoot);
  TComPtr<IOEFolder> inbox = FolderAt(0);
  TComPtr<IOEMessage> message;
  inbox->FirstMessage(message.Put());
  message.Reset();
  std::int32_t result = 0;
  EXPECT_EQ(inbox->DeleteMessage(0, 1, &result), com::kS_OK);
  expected.erase("cur/1:2,S");
  EXPECT_EQ(TreeContents(FRoot), expected);
}

// A mail client that reads the message meanwhile moves it from new/ to cur/ and adds flags.
TEST_F(MaildirServerTest, MessageIsFollowedThroughAFlagChange) {
  for (std::int32_t permanent : {0, 1}) {
    SCOPED_TRACE(permanent);
    fs::remove_all(FRoot);
    MakeMaildir(FRoot);
    WriteFile(FRoot / "new/1.a", "first");
    WriteFile(FRoot / "new/2.b", "second");
    TComPtr<IOEFolder> inbox = FolderAt(0);
    TComPtr<IOEMessage> message;
    inbox->FirstMessage(message.Put());
    inbox->NextMessage(message.Put());
    fs::rename(FRoot / "new/2.b", FRoot / "cur/2.b:2,S");
    EXPECT_EQ(testing::SourceOf(message.Get()), u"second");
    fs::rename(FRoot / "cur/2.b:2,S", FRoot / "cur/2.b:2,RS");
    message.Reset();
    std::int32_t result = 0;
    EXPECT_EQ(inbox->DeleteMessage(1, permanent, &result), com::kS_OK);
    EXPECT_FALSE(fs::exists(FRoot / "cur/2.b:2,RS"));
    EXPECT_EQ(fs::exists(FRoot / ".Trash/cur/2.b:2,RS"), permanent == 0);
    EXPECT_TRUE(fs::exists(FRoot / "new/1.a"));
  }
}

TEST_F(MaildirServerTest, DeleteThatCannotBeDoneTouchesNothing) {
  struct TCase {
    const char* Name;
    std::int32_t Id;
    std::int32_t Permanent;
    void (*Prepare)(const fs::path& root, const fs::path& temp);
  };
  auto none = [](const fs::path&, const fs::path&) {};
  const TCase cases[] = {
      {"file gone, move", 0, 0,
       [](const fs::path& root, const fs::path&) { fs::remove(root / "cur/1:2,"); }},
      {"file gone, delete", 0, 1,
       [](const fs::path& root, const fs::path&) { fs::remove(root / "cur/1:2,"); }},
      {"trash is a link", 0, 0,
       [](const fs::path& root, const fs::path& temp) {
         MakeMaildir(temp / "elsewhere");
         fs::create_directory_symlink(temp / "elsewhere", root / ".Trash");
       }},
      {"trash has no cur", 0, 0,
       [](const fs::path& root, const fs::path&) { fs::create_directories(root / ".Trash/new"); }},
      {"trash is a file", 0, 0,
       [](const fs::path& root, const fs::path&) { WriteFile(root / ".Trash", ""); }},
      {"id below range", -1, 1, none},
      {"id above range", 2, 1, none},
      {"unknown flag", 0, 2, none},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(FTemp.Path());
    fs::create_directories(FTemp.Path());
    MakeMaildir(FRoot);
    WriteFile(FRoot / "cur/1:2,", "first");
    WriteFile(FRoot / "cur/2:2,", "second");
    TComPtr<IOEFolder> inbox = FolderAt(0);
    TComPtr<IOEMessage> message;
    inbox->FirstMessage(message.Put());
    message.Reset();
    c.Prepare(FRoot, FTemp.Path());
    const auto before = TreeContents(FTemp.Path());
    std::int32_t result = 42;
    EXPECT_TRUE(com::Failed(inbox->DeleteMessage(c.Id, c.Permanent, &result)));
    EXPECT_EQ(result, 42);
    EXPECT_EQ(TreeContents(FTemp.Path()), before);
  }
}

TEST(MaildirRegistration, StoreIsFoundAtMaildirElseInHomeWhenConnecting) {
  testing::TTempDir temp;
  MakeMaildir(temp.Path() / "env");
  WriteFile(temp.Path() / "env/cur/1", "from MAILDIR");
  MakeMaildir(temp.Path() / "home/Maildir");
  WriteFile(temp.Path() / "home/Maildir/cur/1", "from HOME");
  testing::TEnvGuard home("HOME", (temp.Path() / "home").c_str());
  testing::TEnvGuard maildir("MAILDIR", nullptr);
  TRegistration registration = RegisterMaildirServer();

  auto firstSource = [] {
    TOEFolderManager manager;
    TComPtr<IOEFolder> folder;
    manager.FirstFolder(folder.Put());
    return folder ? Sources(folder.Get()) : std::vector<std::u16string>{};
  };
  EXPECT_EQ(firstSource(), std::vector<std::u16string>{u"from HOME"});
  {
    testing::TEnvGuard set("MAILDIR", (temp.Path() / "env").c_str());
    EXPECT_EQ(firstSource(), std::vector<std::u16string>{u"from MAILDIR"});
  }
  {
    testing::TEnvGuard empty("MAILDIR", "");
    EXPECT_EQ(firstSource(), std::vector<std::u16string>{u"from HOME"});
  }
}

}  // namespace
}  // namespace pairsweep::store::maildir
