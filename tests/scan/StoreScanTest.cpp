#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scan/StoreScan.h"
#include "store/Errors.h"
#include "tests/support/TestHost.h"

namespace pairsweep::scan {
namespace {

using store::memory::TFault;
using store::memory::TMemoryStore;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Not;
using testing::TTestHost;

std::vector<std::u16string> Sources(const TMemoryStore& store, std::size_t folder) {
  std::vector<std::u16string> sources;
  for (const auto& message : store.Folder(folder).Messages) sources.push_back(message.Source);
  return sources;
}

// The log without the factory's own references, which belong to the registration table.
std::vector<std::string> ScanLog(const TMemoryStore& store) {
  std::vector<std::string> log;
  for (const auto& entry : store.Log()) {
    if (entry != "Release factory") log.push_back(entry);
  }
  return log;
}

class StoreScanTest : public ::testing::Test {
 protected:
  std::shared_ptr<TMemoryStore> Store = TMemoryStore::Create();
  store::TRegistration Registration = Store->Register();
  TTestHost Host{Store.get()};
};

TEST_F(StoreScanTest, CallsAndReleasesComeInOrder) {
  const auto inbox = Store->AddFolder("Inbox");
  Store->AddDeletedItems();
  Store->AddMessage(inbox, u"A", 1);
  Store->AddMessage(inbox, u"A", 2);

  EXPECT_EQ(Host.ScanStore(daMoveToDeleted, u""), 1);
  EXPECT_THAT(
      ScanLog(*Store),
      ElementsAreArray<std::string>(
          {// connecting: the factory's instance is queried for the two interfaces the
           // connection keeps, the folder manager and the events' connection point
           "CreateInstance", "Release manager", "Advise", "Release manager",
           // counting pass
           "FirstFolder Inbox", "Pump", "Release folder Inbox", "NextFolder Deleted Items", "Pump",
           "Release folder Deleted Items", "NextFolder null", "SetMax 2", "SetPosition 0",
           // walk
           "FirstFolder Inbox", "FolderSkipValue Inbox", "SetPosition 1", "FirstMessage Inbox#1",
           "MessageSource Inbox#1", "Pump", "Release message Inbox#1", "NextMessage Inbox#2",
           "MessageSource Inbox#2", "MessageId Inbox#2", "Release message Inbox#2",
           "DeleteMessage Inbox 2 0", "Pump", "NextMessage null", "Release folder Inbox",
           "NextFolder Deleted Items", "FolderSkipValue Deleted Items", "SetPosition 2",
           "Release folder Deleted Items", "NextFolder null",
           // clean-up: the connection unadvises and lets go of both interfaces
           "Unadvise", "Release manager", "Release manager"}));
  EXPECT_EQ(Host.DisposedRecords, 1);
  EXPECT_EQ(Store->LiveReferences(), 1) << "only the registered factory is still referenced";
}

TEST_F(StoreScanTest, FirstCopyInEnumerationOrderStays) {
  const auto inbox = Store->AddFolder("Inbox");
  const auto sent = Store->AddFolder("Sent");
  const auto archive = Store->AddFolder("Archive", 1);
  const auto drafts = Store->AddFolder("Drafts", -5);  // only values above 0 pass a folder over
  Store->AddMessage(inbox, u"one");
  Store->AddMessage(inbox, u"two");
  Store->AddMessage(inbox, u"one");
  Store->AddMessage(sent, u"two");
  Store->AddMessage(sent, u"three");
  Store->AddMessage(archive, u"three");
  Store->AddMessage(archive, u"four");
  Store->AddMessage(drafts, u"four");
  Store->AddMessage(drafts, u"one");

  EXPECT_EQ(Host.ScanStore(daForceDelete, u""), 3);
  EXPECT_THAT(Sources(*Store, inbox), ElementsAre(u"one", u"two"));
  EXPECT_THAT(Sources(*Store, sent), ElementsAre(u"three"));
  EXPECT_THAT(Sources(*Store, archive), ElementsAre(u"three", u"four"));
  EXPECT_THAT(Sources(*Store, drafts), ElementsAre(u"four"));
  EXPECT_THAT(Store->Log(), Not(Contains("MessageSource Archive#6")));
}

TEST_F(StoreScanTest, MovedCopiesLandInDeletedItemsOnce) {
  const auto deleted = Store->AddDeletedItems();
  const auto inbox = Store->AddFolder("Inbox");
  for (int i = 0; i < 3; ++i) Store->AddMessage(inbox, u"same");
  Store->AddMessage(inbox, u"");
  Store->AddMessage(inbox, u"");

  EXPECT_EQ(Host.ScanStore(daMoveToDeleted, u""), 3);
  EXPECT_THAT(Sources(*Store, inbox), ElementsAre(u"same", u""));
  EXPECT_THAT(Sources(*Store, deleted), ElementsAre(u"same", u"same", u""));
}

TEST_F(StoreScanTest, ProgressFollowsFolders) {
  struct TCase {
    const char* Name;
    std::vector<int> SkipValues;
    std::vector<std::string> Progress;
  };
  const TCase cases[] = {
      {"NoFolders", {}, {"SetMax 0", "SetPosition 0"}},
      {"AllPassedOver", {1, 2}, {"SetMax 2", "SetPosition 0", "SetPosition 1", "SetPosition 2"}},
      {"Mixed",
       {0, 1, 0},
       {"SetMax 3", "SetPosition 0", "SetPosition 1", "SetPosition 2", "SetPosition 3"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto store = TMemoryStore::Create();
    auto registration = store->Register();
    for (std::size_t i = 0; i < c.SkipValues.size(); ++i) {
      store->AddFolder("F" + std::to_string(i), c.SkipValues[i]);
    }
    TTestHost host(store.get());
    EXPECT_EQ(host.ScanStore(daMoveToDeleted, u""), 0);
    std::vector<std::string> progress;
    for (const auto& entry : store->Log()) {
      if (entry.starts_with("Set")) progress.push_back(entry);
    }
    EXPECT_EQ(progress, c.Progress);
    // One pump per folder counted; empty or passed-over folders add none.
    EXPECT_EQ(host.Pumps, static_cast<int>(c.SkipValues.size()));
  }
}

TEST_F(StoreScanTest, PositionStaysWithinRangeWhenTheWalkMeetsMoreFolders) {
  for (int i = 0; i < 4; ++i) Store->AddFolder("F" + std::to_string(i));
  Store->FailCall("NextFolder", 1, TFault::kNullReference);  // the counting pass sees one folder
  EXPECT_EQ(Host.ScanStore(daMoveToDeleted, u""), 0);
  EXPECT_EQ(Host.Max, 1);
  EXPECT_EQ(Host.Position(), 1);
  EXPECT_THAT(Store->Log(), Contains("FolderSkipValue F3"));
}

TEST(StoreScanStopTest, StopGivesMinusOneWhereverItComes) {
  struct TCase {
    const char* Name;
    int StopAtPump;
    int ExpectedMax;
    std::size_t ExpectedLeft;  // messages left in Inbox
  };
  // Pumps: 3 while counting, then one per Inbox message.
  const TCase cases[] = {
      {"DuringCounting", 2, 2, 4},
      {"DuringWalk", 5, 3, 3},  // the first two messages were handled: one stays, one went
      {"AfterLastMessage", 7, 3, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto store = TMemoryStore::Create();
    auto registration = store->Register();
    const auto folder = store->AddFolder("Inbox");
    store->AddFolder("Sent");
    store->AddFolder("Drafts");
    for (int i = 0; i < 4; ++i) store->AddMessage(folder, u"dup");
    TTestHost host(store.get());
    host.OnPump = [&](int pump) {
      if (pump == c.StopAtPump) host.StopScan();
    };
    EXPECT_EQ(host.ScanStore(daForceDelete, u""), -1);
    EXPECT_EQ(host.Max, c.ExpectedMax);
    EXPECT_EQ(store->Folder(folder).Messages.size(), c.ExpectedLeft);
    if (c.StopAtPump <= 3) {
      EXPECT_THAT(store->Log(), Not(Contains("FirstMessage Inbox#1")));
    }
    EXPECT_EQ(store->LiveReferences(), 1);
  }
}

TEST_F(StoreScanTest, StopBeforeTheScanHasNoEffect) {
  const auto inbox = Store->AddFolder("Inbox");
  Store->AddMessage(inbox, u"x");
  Store->AddMessage(inbox, u"x");
  Host.StopScan();
  EXPECT_EQ(Host.ScanStore(daForceDelete, u""), 1);
  EXPECT_FALSE(Host.StopRequested());
}

TEST_F(StoreScanTest, UnreadableMessagesAreNeverTakenForDuplicates) {
  const auto inbox = Store->AddFolder("Inbox");
  Store->AddMessage(inbox, u"");      // 1: empty, stays
  Store->AddMessage(inbox, u"body");  // 2: source fails, stays
  Store->AddMessage(inbox, u"body");  // 3: source fails, stays
  Store->AddMessage(inbox, u"");      // 4: a true duplicate of 1
  Store->AddMessage(inbox, u"body");  // 5: first readable "body", stays
  Store->AddMessage(inbox, u"body");  // 6: duplicate, but its id cannot be had: stays
  Store->FailCall("MessageSource", 2, TFault::kFailStatus);
  Store->FailCall("MessageSource", 3, TFault::kFailStatus);
  Store->FailCall("MessageId", 2, TFault::kFailStatus);

  EXPECT_EQ(Host.ScanStore(daForceDelete, u""), 1);
  EXPECT_THAT(Sources(*Store, inbox), ElementsAre(u"", u"body", u"body", u"body", u"body"));
  EXPECT_EQ(Host.Pumps, 1 + 6) << "a passed-over message still gets its pump";
}

TEST_F(StoreScanTest, EmptyTextDeliveredAsSuccessIsAnEmptyMessage) {
  const auto inbox = Store->AddFolder("Inbox");
  Store->AddMessage(inbox, u"");
  Store->AddMessage(inbox, u"not empty, but delivered empty");
  Store->FailCall("MessageSource", 2, TFault::kEmptyText);
  EXPECT_EQ(Host.ScanStore(daForceDelete, u""), 1);
}

TEST_F(StoreScanTest, FailedDeletionStillCounts) {
  const auto inbox = Store->AddFolder("Inbox");
  Store->AddMessage(inbox, u"x");
  Store->AddMessage(inbox, u"x");
  Store->FailCall("DeleteMessage", 0, TFault::kDeleteDoesNothing);
  EXPECT_EQ(Host.ScanStore(daForceDelete, u""), 1);
  EXPECT_EQ(Store->Folder(inbox).Messages.size(), 2u);
}

TEST_F(StoreScanTest, ScansAreIndependent) {
  const auto inbox = Store->AddFolder("Inbox");
  Store->AddMessage(inbox, u"x");
  Store->AddMessage(inbox, u"x");
  EXPECT_EQ(Host.ScanStore(daForceDelete, u""), 1);
  EXPECT_EQ(Host.ScanStore(daForceDelete, u""), 0) << "the first copy is new to a second scan";
  EXPECT_EQ(Host.DisposedRecords, 2);
}

TEST_F(StoreScanTest, ErrorInTheMiddleFreesEverythingAndPropagates) {
  const auto inbox = Store->AddFolder("Inbox");
  Store->AddMessage(inbox, u"a");
  Store->AddMessage(inbox, u"b");
  Store->AddMessage(inbox, u"a");
  Store->AddMessage(inbox, u"c");
  Store->AddMessage(inbox, u"b");
  // The export of the first duplicate fails: the directory does not exist.
  EXPECT_THROW(Host.ScanStore(daMoveToFolder, u"/nonexistent/pairsweep/dir"), EInOutError);
  EXPECT_EQ(Host.DisposedRecords, 2) << "both records added before the error are freed";
  EXPECT_EQ(Store->LiveReferences(), 1);
  EXPECT_EQ(Store->Folder(inbox).Messages.size(), 5u);
  const auto log = ScanLog(*Store);
  EXPECT_EQ(log.back(), "Release manager");
  EXPECT_THAT(log, Not(Contains("MessageSource Inbox#4")));
}

TEST(StoreScanConnectTest, NoStoreServerRaisesAfterFreeingEverything) {
  TTestHost host;
  EXPECT_THROW(
      {
        try {
          host.ScanStore(daMoveToDeleted, u"");
        } catch (const EOleSysError& e) {
          EXPECT_STREQ(e.what(),
                       "Class not registered, ClassID: {12BAF0A5-264C-464B-9D58-C83B3781DD4B}");
          throw;
        }
      },
      EOleSysError);
  EXPECT_EQ(host.DisposedRecords, 0);
}

}  // namespace
}  // namespace pairsweep::scan
