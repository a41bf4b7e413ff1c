#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "store/Errors.h"
#include "store/OEFolderManager.h"
#include "store/memory/MemoryStore.h"

namespace pairsweep::store {
namespace {

using memory::TFault;
using memory::TMemoryStore;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

std::vector<std::string> Without(const std::vector<std::string>& log, const std::string& noise) {
  std::vector<std::string> kept;
  for (const auto& entry : log) {
    if (entry != noise) kept.push_back(entry);
  }
  return kept;
}

TEST(FolderManagerTest, ConnectsOnTheFirstFolderRequestAndLetsGoWhenFreed) {
  auto store = TMemoryStore::Create();
  auto registration = store->Register();
  store->AddFolder("Inbox");
  {
    TOEFolderManager manager;
    EXPECT_THAT(Without(store->Log(), "Release factory"), IsEmpty());
    com::TComPtr<IOEFolder> folder;
    manager.FirstFolder(folder.Put());
    EXPECT_TRUE(folder);
  }
  EXPECT_THAT(Without(store->Log(), "Release factory"),
              ElementsAre("CreateInstance", "Release manager", "Advise", "Release manager",
                          "FirstFolder Inbox", "Release folder Inbox", "Unadvise",
                          "Release manager", "Release manager"));
  EXPECT_EQ(store->LiveReferences(), 1);
}

TEST(FolderManagerTest, PrefersTheRunningInstance) {
  auto store = TMemoryStore::Create();
  auto factory = store->Register();
  auto running = store->RegisterRunning();
  TOEFolderManager manager;
  com::TComPtr<IOEFolder> folder;
  manager.FirstFolder(folder.Put());
  EXPECT_THAT(store->Log(), Not(Contains("CreateInstance")));
  EXPECT_THAT(store->Log(), Contains("Advise"));
}

TEST(FolderManagerTest, LatestRegistrationWinsAndRevokingRestoresTheEarlier) {
  auto first = TMemoryStore::Create();
  auto second = TMemoryStore::Create();
  first->AddFolder("First");
  second->AddFolder("Second");
  auto firstRegistration = first->Register();
  {
    auto secondRegistration = second->Register();
    TOEFolderManager manager;
    com::TComPtr<IOEFolder> folder;
    manager.FirstFolder(folder.Put());
    EXPECT_THAT(second->Log(), Contains("FirstFolder Second"));
  }
  TOEFolderManager manager;
  com::TComPtr<IOEFolder> folder;
  manager.FirstFolder(folder.Put());
  EXPECT_THAT(first->Log(), Contains("FirstFolder First"));
}

TEST(FolderManagerTest, ConnectionErrorsCarryTheirTexts) {
  struct TCase {
    const char* Name;
    const char* Call;  // nullptr: nothing is registered at all
    TFault Fault;
    const char* Text;
  };
  const TCase cases[] = {
      {"NotRegistered", nullptr, TFault::kFailStatus,
       "Class not registered, ClassID: {12BAF0A5-264C-464B-9D58-C83B3781DD4B}"},
      {"CreationFails", "CreateInstance", TFault::kFailStatus,
       "Server execution failed, ClassID: {12BAF0A5-264C-464B-9D58-C83B3781DD4B}"},
      {"NoInterface", "QueryInterface", TFault::kFailStatus, "Interface not supported"},
      {"NullInterface", "QueryInterface", TFault::kNullReference,
       "DefaultInterface is NULL. Component is not connected to Server. You must call 'Connect' "
       "or 'ConnectTo' before this operation"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto store = TMemoryStore::Create();
    TRegistration registration;
    if (c.Call) {
      registration = store->Register();
      store->FailCall(c.Call, 0, c.Fault);
    }
    {
      TOEFolderManager manager;
      com::TComPtr<IOEFolder> folder;
      try {
        manager.FirstFolder(folder.Put());
        ADD_FAILURE() << "no error";
      } catch (const EPairsweepError& e) {
        EXPECT_STREQ(e.what(), c.Text);
      }
    }
    EXPECT_EQ(store->LiveReferences(), c.Call ? 1 : 0) << "nothing but the factory stays held";
  }
}

TEST(FolderManagerTest, AFailedAdviseIsIgnored) {
  auto store = TMemoryStore::Create();
  auto registration = store->Register();
  store->AddFolder("Inbox");
  store->FailCall("Advise", 0, TFault::kFailStatus);
  {
    TOEFolderManager manager;
    com::TComPtr<IOEFolder> folder;
    manager.FirstFolder(folder.Put());
    EXPECT_TRUE(folder);
  }
  EXPECT_THAT(store->Log(), Not(Contains("Unadvise")));
  EXPECT_EQ(store->LiveReferences(), 1);
}

TEST(ComPtrTest, PutReleasesBeforeTheNextReferenceArrives) {
  auto store = TMemoryStore::Create();
  auto registration = store->Register();
  store->AddFolder("A");
  store->AddFolder("B");
  TOEFolderManager manager;
  com::TComPtr<IOEFolder> folder;
  manager.FirstFolder(folder.Put());
  manager.NextFolder(folder.Put());
  auto log = Without(store->Log(), "Release factory");
  auto release = std::find(log.begin(), log.end(), "Release folder A");
  auto next = std::find(log.begin(), log.end(), "NextFolder B");
  EXPECT_LT(release, next);
}

}  // namespace
}  // namespace pairsweep::store
