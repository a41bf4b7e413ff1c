// Over many generated stores and every action: no message without a copy is ever lost, every
// removed message had a copy that stays, and passed-over folders are never touched.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "scan/Fingerprint.h"
#include "scan/StoreScan.h"
#include "tests/support/TestHost.h"

namespace pairsweep::scan {
namespace {

using store::memory::TMemoryStore;
using testing::TTempDir;
using testing::TTestHost;

// Sources that differ only slightly, or in ways a careless encoder would lose.
const std::u16string kSources[] = {
    u"",
    u"abc",
    u"Abc",
    u"abc ",
    u"abc\r\n",
    u"abc\n",
    std::u16string(u"abc\0x", 5),
    std::u16string(u"abc\0y", 5),
    u"\U0001F600",
    std::u16string{char16_t(0xD83D)},
    std::u16string{char16_t(0xDE00)},
    std::u16string{char16_t(0xDE00), char16_t(0xD83D)},
    u"\u00E9t\u00E9",
    u"e\u0301te\u0301",  // the same word, not normalised
};

struct TGenerated {
  std::shared_ptr<TMemoryStore> Store = TMemoryStore::Create();
  std::size_t DeletedItems = 0;
  std::vector<bool> Walked;
  std::size_t ExpectedRemoved = 0;
  std::map<std::size_t, std::vector<std::u16string>> Before;
};

TGenerated Generate(unsigned seed) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  TGenerated g;
  const int folderCount = 1 + pick(6);
  const int deletedAt = pick(folderCount + 1);
  std::map<std::u16string, int> walkedCopies;
  for (int f = 0; f <= folderCount; ++f) {
    if (f == deletedAt) {
      g.DeletedItems = g.Store->AddDeletedItems();
      g.Walked.push_back(false);
      // Already-deleted mail that happens to match: never a first sighting.
      for (int m = pick(3); m > 0; --m) {
        g.Store->AddMessage(g.DeletedItems, kSources[pick(std::size(kSources))]);
      }
      continue;
    }
    const int skipValues[] = {-1, 0, 0, 0, 1, 2};
    const int skip = skipValues[pick(std::size(skipValues))];
    const auto folder = g.Store->AddFolder("F" + std::to_string(f), skip);
    g.Walked.push_back(skip <= 0);
    for (int m = pick(8); m > 0; --m) {
      const auto& source = kSources[pick(std::size(kSources))];
      g.Store->AddMessage(folder, source);
      if (skip <= 0) ++walkedCopies[source];
    }
  }
  for (const auto& [source, copies] : walkedCopies) g.ExpectedRemoved += copies - 1;
  for (std::size_t f = 0; f < g.Store->Folders().size(); ++f) {
    for (const auto& m : g.Store->Folder(f).Messages) g.Before[f].push_back(m.Source);
  }
  return g;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(NoLossTest, EveryDistinctMessageSurvivesExactlyOnce) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    for (TDuplicateAction action : {daMoveToDeleted, daForceDelete, daMoveToFolder}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", action " + std::to_string(action));
      TGenerated g = Generate(seed);
      auto registration = g.Store->Register();
      TTempDir exportDir;
      TTestHost host;
      const auto result =
          host.ScanStore(action, action == daMoveToFolder ? exportDir.Path().u16string() : u"");
      ASSERT_EQ(result, static_cast<std::int32_t>(g.ExpectedRemoved));

      std::multiset<std::u16string> walkedBefore, walkedAfter;
      for (std::size_t f = 0; f < g.Store->Folders().size(); ++f) {
        const auto& after = g.Store->Folder(f).Messages;
        if (f == g.DeletedItems) continue;
        if (!g.Walked[f]) {
          ASSERT_EQ(after.size(), g.Before[f].size()) << "passed-over folder changed";
          for (std::size_t i = 0; i < after.size(); ++i) ASSERT_EQ(after[i].Source, g.Before[f][i]);
          continue;
        }
        walkedBefore.insert(g.Before[f].begin(), g.Before[f].end());
        for (const auto& m : after) walkedAfter.insert(m.Source);
      }
      const std::set<std::u16string> distinct(walkedBefore.begin(), walkedBefore.end());
      ASSERT_EQ(walkedAfter.size(), distinct.size()) << "a message was lost or a copy was left";
      for (const auto& source : distinct) ASSERT_EQ(walkedAfter.count(source), 1u);

      // What left the walked folders is exactly the copies: in Deleted Items, in files, or gone.
      std::multiset<std::u16string> removed = walkedBefore;
      for (const auto& source : walkedAfter) removed.erase(removed.find(source));
      const auto& trash = g.Store->Folder(g.DeletedItems).Messages;
      const std::size_t trashBefore = g.Before[g.DeletedItems].size();
      if (action == daMoveToDeleted) {
        ASSERT_EQ(trash.size(), trashBefore + removed.size());
        std::multiset<std::u16string> moved;
        for (std::size_t i = trashBefore; i < trash.size(); ++i) moved.insert(trash[i].Source);
        ASSERT_EQ(moved, removed);
      } else {
        ASSERT_EQ(trash.size(), trashBefore);
      }
      if (action == daMoveToFolder) {
        std::multiset<std::string> files, expected;
        for (const auto& entry : std::filesystem::directory_iterator(exportDir.Path())) {
          files.insert(ReadFile(entry.path()));
        }
        for (const auto& source : removed) expected.insert(SourceBytes(source));
        ASSERT_EQ(files, expected);
      }
    }
  }
}

}  // namespace
}  // namespace pairsweep::scan
