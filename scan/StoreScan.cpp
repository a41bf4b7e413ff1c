#include "scan/StoreScan.h"

#include <memory>

#include "scan/Fingerprint.h"
#include "store/OEFolderManager.h"

namespace pairsweep::scan {
namespace {

using com::TComPtr;
using store::IOEFolder;
using store::IOEMessage;

// Releases the scan's references and frees its objects in the one order the store server may rely
// on, however the scan ends: message, folder, connection, hash object, seen-set.
struct TScanObjects {
  std::unique_ptr<TSeenSet> SeenSet;
  std::unique_ptr<TLbSHA1> Hash;
  std::unique_ptr<store::TOEFolderManager> Store;
  TComPtr<IOEFolder> Folder;
  TComPtr<IOEMessage> Message;

  ~TScanObjects() {
    Message.Reset();
    Folder.Reset();
    Store.reset();
    Hash.reset();
    SeenSet.reset();
  }
};

}  // namespace

void TScanHost::DisposeHashData(TSeenSet&, THashData* data) {
  data->HashText.Clear();
  delete data;
}

std::int32_t TScanHost::ScanStore(TDuplicateAction action, const std::u16string& directory) {
  FStopRequested = false;
  std::int32_t result = -1;
  std::int32_t duplicateCount = 0;

  TScanObjects objects;
  objects.SeenSet = std::make_unique<TSeenSet>(kSeenSetBuckets);
  objects.Hash = std::make_unique<TLbSHA1>();
  objects.Store = std::make_unique<store::TOEFolderManager>();
  objects.SeenSet->SetOnDisposeData(
      [this](TSeenSet& sender, THashData* data) { DisposeHashData(sender, data); });
  store::TOEFolderManager& folders = *objects.Store;
  TComPtr<IOEFolder>& folder = objects.Folder;
  TComPtr<IOEMessage>& message = objects.Message;

  // Counting pass: it gives the progress bar its maximum.
  std::int32_t folderCount = 0;
  folders.FirstFolder(folder.Put());
  while (folder && !FStopRequested) {
    ProcessMessages();
    ++folderCount;
    folders.NextFolder(folder.Put());
  }
  IProgressBar& progress = ScanProgressBar();
  progress.SetMax(folderCount);
  progress.SetPosition(0);

  std::u16string source;
  TDigest digest;
  folders.FirstFolder(folder.Put());
  while (folder && !FStopRequested) {
    std::int32_t skipValue = 0;
    folder->FolderSkipValue(&skipValue);
    progress.SetPosition(progress.Position() + 1);
    if (skipValue > 0) {
      folders.NextFolder(folder.Put());
      continue;
    }
    folder->FirstMessage(message.Put());
    while (message && !FStopRequested) {
      source.clear();
      // A message whose source cannot be read is passed over: read as the empty text it would
      // be taken for a copy of every other unreadable or empty message, and deleted unread.
      if (com::Succeeded(message->MessageSource(&source))) {
        objects.Hash->HashSource(source);
        objects.Hash->GetDigest(digest);
        const std::string fingerprint = DigestToHex(digest.data(), 20);
        if (!objects.SeenSet->Exists(fingerprint)) {
          auto data = std::make_unique<THashData>();
          data->HashText.Assign(DigestToHex(digest.data(), 20));
          objects.SeenSet->Add(fingerprint, data.release());
        } else {
          // Likewise a duplicate without an id: a stale id could name another message.
          std::int32_t messageId = 0;
          if (com::Succeeded(message->MessageId(&messageId))) {
            ++duplicateCount;
            DisposeDuplicate(action, directory, folder.Get(), message, messageId, source);
          }
        }
      }
      ProcessMessages();
      folder->NextMessage(message.Put());
    }
    folders.NextFolder(folder.Put());
  }

  if (!FStopRequested) result = duplicateCount;
  return result;
}

}  // namespace pairsweep::scan
