// TMemoryStore: a store server that keeps its folders and messages in memory. It is the fixture of
// the scan's tests (and stands in for a real store where none is wanted), so besides serving the
// store interfaces it records every call and every release in order, and can be told to fail a
// chosen call.
//
// Folders are delivered in the order they were added, messages in the order they were added to
// their folder. A message moved to Deleted Items is appended there with a new id; one moved out of
// Deleted Items itself is deleted for good. Enumeration goes on after a deleted message.
//
// Create with TMemoryStore::Create(); the server objects it hands out share its ownership, so the
// store outlives every reference a client still holds. One thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/OEStore.h"
#include "store/Registration.h"

namespace pairsweep::store::memory {

enum class TFault {
  kNullReference,      // succeeds, but delivers a null reference
  kEmptyText,          // succeeds, but delivers an empty text
  kFailStatus,         // reports failure and delivers nothing
  kDeleteDoesNothing,  // DeleteMessage reports success and changes nothing
};

class TMemoryStore : public std::enable_shared_from_this<TMemoryStore> {
 public:
  struct TMessage {
    std::u16string Source;
    std::int32_t Id;
    std::uint64_t Serial;  // order of arrival in the store; enumeration follows it
  };
  struct TFolder {
    std::string Name;
    std::int32_t SkipValue = 0;
    std::vector<TMessage> Messages;
  };

  static std::shared_ptr<TMemoryStore> Create() {
    return std::shared_ptr<TMemoryStore>(new TMemoryStore);
  }

  // Returns the new folder's index.
  std::size_t AddFolder(std::string name, std::int32_t skipValue = 0);
  // The folder that DeleteMessage(id, 0) moves into. Created at the end when first needed if no
  // test added it.
  std::size_t AddDeletedItems(std::int32_t skipValue = 1, std::string name = "Deleted Items");
  // Returns the message's id: `id` when given, else the next free one.
  std::int32_t AddMessage(std::size_t folder, std::u16string source,
                          std::optional<std::int32_t> id = std::nullopt);

  const std::deque<TFolder>& Folders() const { return FFolders; }
  const TFolder& Folder(std::size_t index) const { return FFolders.at(index); }
  std::optional<std::size_t> DeletedItems() const { return FDeletedItems; }

  // Makes the `occurrence`-th call (1-based) named `call` fail as `fault`; occurrence 0 fails every
  // one. Calls: FirstFolder, NextFolder, FolderSkipValue, FirstMessage, NextMessage,
  // MessageSource, MessageId, DeleteMessage, CreateInstance, QueryInterface (of IOEFolderManager),
  // Advise.
  void FailCall(std::string call, int occurrence, TFault fault);

  // "FirstFolder Inbox", "NextFolder null", "FolderSkipValue Inbox", "FirstMessage Inbox#3",
  // "MessageSource Inbox#3", "MessageId Inbox#3", "DeleteMessage Inbox 3 0", "Release message
  // Inbox#3", "Release folder Inbox", "Release manager", "CreateInstance", "Advise", "Unadvise".
  const std::vector<std::string>& Log() const { return FLog; }
  void ClearLog() { FLog.clear(); }

  // References that clients hold to this store's objects right now.
  int LiveReferences() const { return FLiveReferences; }

  // Registers a factory that serves this store to the folder manager.
  [[nodiscard]] TRegistration Register();
  // Registers a running instance of the store's folder manager.
  [[nodiscard]] TRegistration RegisterRunning();

  // For the store's own server objects.
  std::optional<TFault> TakeFault(const std::string& call);
  void Record(std::string entry) { FLog.push_back(std::move(entry)); }
  void CountReference(int delta) { FLiveReferences += delta; }
  TFolder& MutableFolder(std::size_t index) { return FFolders.at(index); }
  std::size_t DeletedItemsForMove();
  std::int32_t NextId() { return ++FLastId; }
  std::uint64_t NextSerial() { return ++FLastSerial; }
  com::IUnknown* NewFolderManager();

 private:
  TMemoryStore() = default;

  struct TPlannedFault {
    int Occurrence;
    TFault Fault;
  };
  std::deque<TFolder> FFolders;
  std::optional<std::size_t> FDeletedItems;
  std::int32_t FLastId = 0;
  std::uint64_t FLastSerial = 0;
  std::vector<std::string> FLog;
  std::map<std::string, std::vector<TPlannedFault>> FFaults;
  std::map<std::string, int> FCallCounts;
  int FLiveReferences = 0;
};

}  // namespace pairsweep::store::memory
