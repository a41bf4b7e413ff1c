// The real scan over Maildir stores that go wrong in the ways real ones do.
#include <gtest/gtest.h>

#include <string>

#include "scan/StoreScan.h"
#include "store/maildir/MaildirServer.h"
#include "tests/store/maildir/MaildirFixture.h"
#include "tests/support/TestHost.h"

namespace pairsweep::store::maildir {
namespace {

using testing::MakeMaildir;
using testing::ReadFile;
using testing::TreeContents;
using testing::WriteFile;
namespace fs = std::filesystem;

TEST(MaildirScan, BadStoreLosesNothingAndMovesOnlyTrueCopies) {
  testing::TTempDir temp;
  const fs::path root = temp.Path() / "Maildir";
  const std::string a = "Subject: a\r\n\r\nA\r\n";
  // 100 MB, with a bad byte near the end that a lossy reader would blur with the other one.
  std::string big(100u << 20, 'b');
  big[big.size() - 10] = '\xE9';
  std::string otherBig = big;
  otherBig[otherBig.size() - 10] = '\xE8';

  MakeMaildir(root);
  WriteFile(root / "cur/1:2,S", a);
  WriteFile(root / "cur/2:2,S", "caf\xE9");
  WriteFile(root / "cur/3:2,S", "caf\xE8");  // differs only in a byte that is not UTF-8
  WriteFile(root / "new/4", "");
  WriteFile(root / "new/5", big);
  WriteFile(root / "new/6", otherBig);
  WriteFile(temp.Path() / "outside", a);
  fs::create_symlink(temp.Path() / "outside", root / "cur/0.link:2,");
  fs::create_directories(root / ".NoNew/cur");  // not a folder: its copy of a stays
  WriteFile(root / ".NoNew/cur/1", a);
  const fs::path odd = root / ".Odd\xFF";
  MakeMaildir(odd);
  WriteFile(odd / "cur/1:2,", a);
  WriteFile(odd / "cur/2:2,", "caf\xE9");
  WriteFile(odd / "cur/3:2,", "removed while the scan runs");
  WriteFile(odd / "cur/4:2,", "");
  WriteFile(odd / "cur/5:2,", big);
  WriteFile(odd / "cur/\xFF\xFE:2,", "caf\xE8");

  auto expected = TreeContents(temp.Path());
  TRegistration registration = RegisterMaildirServer(root);
  testing::TTestHost host;
  // Pumps: one per folder while counting (2), one per INBOX message (6), then .Odd's first.
  host.OnPump = [&](int pump) {
    if (pump != 9) return;
    // After .Odd was listed: its first message has been moved already. Read as empty instead of
    // failing, the removed file would count as a copy of the empty message.
    EXPECT_TRUE(fs::exists(root / ".Trash/cur/1:2,"));
    fs::remove(odd / "cur/3:2,");
  };
  EXPECT_EQ(host.ScanStore(scan::daMoveToDeleted, u""), 5);

  const std::string moved[] = {"1:2,", "2:2,", "4:2,", "5:2,", "\xFF\xFE:2,"};
  for (const std::string& name : moved) {
    const std::string from = fs::relative(odd / "cur" / name, temp.Path()).string();
    expected["Maildir/.Trash/cur/" + name] = expected.at(from);
    expected.erase(from);
  }
  expected.erase(fs::relative(odd / "cur/3:2,", temp.Path()).string());
  for (const char* dir : {"", "/cur", "/new", "/tmp"})
    expected[std::string("Maildir/.Trash") + dir] = "<dir>";
  expected["Maildir/.Trash/maildirfolder"] = "";
  const auto after = TreeContents(temp.Path());
  EXPECT_EQ(after.size(), expected.size());
  for (const auto& [path, content] : expected) {
    auto it = after.find(path);
    ASSERT_NE(it, after.end()) << path;
    EXPECT_TRUE(it->second == content) << path;
  }
}

}  // namespace
}  // namespace pairsweep::store::maildir
