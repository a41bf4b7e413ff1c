// What happens to one duplicate: moved to the store's Deleted Items, deleted for good, or written
// to a new "<GUID>.eml" file in a directory and then deleted for good.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "store/OEStore.h"

namespace pairsweep::scan {

// The item index of the action choice; held in one byte, and any value outside 0 to 2 does nothing.
enum TDuplicateAction : std::uint8_t {
  daMoveToDeleted = 0,
  daForceDelete = 1,
  daMoveToFolder = 2,
};

// Carries out `action` for the duplicate `message` (the scan's own reference) with id `messageId`
// in `folder` (borrowed). The message reference is released before any deletion, so the caller
// may hold a null reference afterwards.
//
// For daMoveToFolder the file is complete (every source byte written and the file closed) before
// the message is deleted. Raises EInOutError:
// - "Cannot create file \"<path>\". <reason>" when the file cannot be created;
// - "Cannot write file \"<path>\". <reason>" when it cannot be written in full; the incomplete
//   file is removed.
// Either way the message stays in the store. When no GUID can be had, nothing happens.
void DisposeDuplicate(TDuplicateAction action, std::u16string_view directory,
                      store::IOEFolder* folder, com::TComPtr<store::IOEMessage>& message,
                      std::int32_t messageId, std::u16string_view source);

// A new GUID in braced upper-case registry form ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"), or the
// empty text when the system gives none.
std::string NewGuidText();

// The name of an exported message file: the directory, a "/" unless it already ends with one, the
// GUID text and ".eml", converted to UTF-8 with "?" for a code unit UTF-8 cannot hold.
std::string ExportFileName(std::u16string_view directory, std::string_view guidText);

// UTF-16 to UTF-8; a lone surrogate becomes "?".
std::string Utf16ToUtf8(std::u16string_view text);

// Replaces the GUID source for tests: the function fills 16 bytes and returns false to fail.
// Restores the system's source when destroyed.
class TGuidSourceOverride {
 public:
  using TSource = std::function<bool(std::uint8_t (&bytes)[16])>;
  explicit TGuidSourceOverride(TSource source);
  ~TGuidSourceOverride();
  TGuidSourceOverride(const TGuidSourceOverride&) = delete;
  TGuidSourceOverride& operator=(const TGuidSourceOverride&) = delete;

 private:
  TSource FPrevious;
};

}  // namespace pairsweep::scan
