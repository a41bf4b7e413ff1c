#include "scan/Disposal.h"

#include <fcntl.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "scan/Fingerprint.h"
#include "store/Errors.h"

namespace pairsweep::scan {
namespace {

bool SystemGuid(std::uint8_t (&bytes)[16]) {
  uuid_t uuid;
  uuid_generate(uuid);
  std::memcpy(bytes, uuid, sizeof bytes);
  return true;
}

TGuidSourceOverride::TSource& GuidSource() {
  static TGuidSourceOverride::TSource source = SystemGuid;
  return source;
}

// strerror's text, without trailing blanks, line breaks or full stops.
std::string SystemErrorText(int error) {
  std::string text = std::strerror(error);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r' ||
                           text.back() == '\t' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

std::string FullPath(const std::string& name) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(name, error);
  if (error) path = name;
  return path.lexically_normal().string();
}

[[noreturn]] void RaiseFileError(const char* what, const std::string& name, int error) {
  throw EInOutError(std::string("Cannot ") + what + " file \"" + FullPath(name) + "\". " +
                    SystemErrorText(error));
}

// An open file descriptor; closed on destruction unless Close() was called.
class TFile {
 public:
  explicit TFile(int fd) : FFd(fd) {}
  ~TFile() {
    if (FFd >= 0) ::close(FFd);
  }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  int Fd() const { return FFd; }
  // Returns 0, or the errno of a close that reported a failed write.
  int Close() { return ::close(std::exchange(FFd, -1)) == 0 ? 0 : errno; }

 private:
  int FFd;
};

// Writes every byte, continuing after partial writes. Returns 0 or the errno of the failure.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

void Export(std::u16string_view directory, store::IOEFolder* folder,
            com::TComPtr<store::IOEMessage>& message, std::int32_t messageId,
            std::u16string_view source) {
  const std::string guid = NewGuidText();
  if (guid.empty()) return;
  const std::string name = ExportFileName(directory, guid);
  TFile file(::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (file.Fd() < 0) RaiseFileError("create", name, errno);

  // The message goes only once its copy is whole on disk: a short or failed write, or a close
  // that reports one, removes the partial file and leaves the message in the store.
  int error = WriteAll(file.Fd(), SourceBytes(source));
  if (error == 0) error = file.Close();
  if (error != 0) {
    ::unlink(name.c_str());
    RaiseFileError("write", name, error);
  }

  message.Reset();
  std::int32_t result = 0;
  folder->DeleteMessage(messageId, 1, &result);
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += '?';
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string NewGuidText() {
  std::uint8_t bytes[16];
  if (!GuidSource()(bytes)) return {};
  uuid_t uuid;
  std::memcpy(uuid, bytes, sizeof uuid);
  char text[37];
  uuid_unparse_upper(uuid, text);
  return "{" + std::string(text) + "}";
}

std::string ExportFileName(std::u16string_view directory, std::string_view guidText) {
  std::string name = Utf16ToUtf8(directory);
  if (directory.empty() || directory.back() != u'/') name += '/';
  name += guidText;
  name += ".eml";
  return name;
}

void DisposeDuplicate(TDuplicateAction action, std::u16string_view directory,
                      store::IOEFolder* folder, com::TComPtr<store::IOEMessage>& message,
                      std::int32_t messageId, std::u16string_view source) {
  std::int32_t result = 0;
  switch (action) {
    case daMoveToDeleted:
      message.Reset();
      folder->DeleteMessage(messageId, 0, &result);
      break;
    case daForceDelete:
      message.Reset();
      folder->DeleteMessage(messageId, 1, &result);
      break;
    case daMoveToFolder:
      Export(directory, folder, message, messageId, source);
      break;
  }
}

TGuidSourceOverride::TGuidSourceOverride(TSource source)
    : FPrevious(std::exchange(GuidSource(), std::move(source))) {}

TGuidSourceOverride::~TGuidSourceOverride() { GuidSource() = std::move(FPrevious); }

}  // namespace pairsweep::scan
