// The mail store server's interfaces. A store server hands out folders and messages, gives each
// message's complete source text, and deletes or moves messages by id. The program reaches a
// server only through these interfaces (see TOEFolderManager); a server never knows the program.
//
// All calls come from the one GUI thread. Out references and texts are cleared by the caller
// before each call, so a server that fails may simply leave them alone; out integers keep their
// old value on failure.
#pragma once

#include <cstdint>
#include <string>

#include "store/Com.h"

namespace pairsweep::store {

using com::HRESULT;
using com::IUnknown;
using com::TGuid;

class IOEMessage;
class IOEFolder;

// The class of the store server that the program connects to.
inline constexpr TGuid kCLASS_OEFolderManager = {
    0x12BAF0A5, 0x264C, 0x464B, {0x9D, 0x58, 0xC8, 0x3B, 0x37, 0x81, 0xDD, 0x4B}};
inline constexpr TGuid kIID_IOEFolderManager = {
    0x12BAF0C9, 0x264C, 0x464B, {0x9D, 0x58, 0xC8, 0x3B, 0x37, 0x81, 0xDD, 0x4B}};
inline constexpr TGuid kDIID_IOEFolderManagerEvents = {
    0x12BAF091, 0x264C, 0x464B, {0x9D, 0x58, 0xC8, 0x3B, 0x37, 0x81, 0xDD, 0x4B}};
inline constexpr TGuid kIID_IOEFolder = {
    0x12BAF0CA, 0x264C, 0x464B, {0x9D, 0x58, 0xC8, 0x3B, 0x37, 0x81, 0xDD, 0x4B}};
inline constexpr TGuid kIID_IOEMessage = {
    0x12BAF0CB, 0x264C, 0x464B, {0x9D, 0x58, 0xC8, 0x3B, 0x37, 0x81, 0xDD, 0x4B}};
inline constexpr TGuid kIID_IConnectionPoint = {
    0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

// The root of a store: enumerates its folders. The position of the enumeration lives here.
class IOEFolderManager : public IUnknown {
 public:
  // Starts the enumeration afresh: the first folder, or null when the store has none.
  virtual HRESULT FirstFolder(IOEFolder** folder) = 0;
  // The folder after the one last delivered, or null after the last.
  virtual HRESULT NextFolder(IOEFolder** folder) = 0;
};

// One folder of the store. The position of its message enumeration lives in this object.
class IOEFolder : public IUnknown {
 public:
  // Above 0: the folder is passed over by the scan (the store's Deleted Items, for instance).
  virtual HRESULT FolderSkipValue(std::int32_t* skipValue) = 0;
  virtual HRESULT FirstMessage(IOEMessage** message) = 0;
  // The message after the one last delivered, or null after the last; enumeration goes on after
  // a message that was deleted through DeleteMessage of this folder.
  virtual HRESULT NextMessage(IOEMessage** message) = 0;
  // permanent 0: move the message with this id to the store's Deleted Items; 1: delete it for
  // good. The caller holds no reference to the message.
  virtual HRESULT DeleteMessage(std::int32_t messageId, std::int32_t permanent,
                                std::int32_t* result) = 0;
};

// One message of a folder.
class IOEMessage : public IUnknown {
 public:
  // The complete source text, UTF-16, any code unit included.
  virtual HRESULT MessageSource(std::u16string* source) = 0;
  // The id under which DeleteMessage of the same folder finds this message.
  virtual HRESULT MessageId(std::int32_t* messageId) = 0;
};

// The events that a folder manager fires to its advised sinks. The program handles none of them.
class IOEFolderManagerEvents : public IUnknown {
 public:
  virtual void OnFolderCreated(std::int32_t folderId) = 0;
  virtual void OnFolderDeleted(std::int32_t folderId) = 0;
  virtual void OnFolderRenamed(std::int32_t folderId) = 0;
  virtual void OnFolderMoved(std::int32_t folderId) = 0;
  virtual void OnFolderUnreadChanged(std::int32_t folderId) = 0;
  virtual void OnNewMessage(std::int32_t folderId, std::int32_t newMsgId) = 0;
};

// A server object that fires events offers this interface; a sink is advised with it.
class IConnectionPoint : public IUnknown {
 public:
  virtual HRESULT Advise(IOEFolderManagerEvents* sink, std::uint32_t* cookie) = 0;
  virtual HRESULT Unadvise(std::uint32_t cookie) = 0;
};

}  // namespace pairsweep::store
