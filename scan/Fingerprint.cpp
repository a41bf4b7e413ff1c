#include "scan/Fingerprint.h"

#include <openssl/evp.h>

#include <cstring>

#include "scan/SourceEncoding.h"
#include "store/Errors.h"

namespace pairsweep::scan {

void AppendSourceBytes(std::u16string_view source, std::string& bytes) {
  const std::size_t start = bytes.size();
  bytes.resize(start + MaxSourceBytes(source.size()));
  char* end = EncodeSourceUnits(source.data(), source.data() + source.size(), bytes.data() + start);
  bytes.resize(static_cast<std::size_t>(end - bytes.data()));
}

std::string SourceBytes(std::u16string_view source) {
  std::string bytes;
  AppendSourceBytes(source, bytes);
  return bytes;
}

std::string DigestToHex(const std::uint8_t* buffer, int count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  if (count <= 0) return text;
  text.resize(2 * static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    text[2 * i] = kDigits[buffer[i] >> 4];
    text[2 * i + 1] = kDigits[buffer[i] & 0x0F];
  }
  return text;
}

namespace {

// libcrypto fails here only when it cannot allocate or its SHA-1 provider is missing.
[[noreturn]] void RaiseHashError() {
  throw EPairsweepError("The SHA-1 digest could not be computed");
}

}  // namespace

TLbSHA1::TLbSHA1() : FContext(EVP_MD_CTX_new()) {
  if (!FContext) RaiseHashError();
}

TLbSHA1::~TLbSHA1() { EVP_MD_CTX_free(FContext); }

void TLbSHA1::Begin() {
  if (EVP_DigestInit_ex2(FContext, EVP_sha1(), nullptr) != 1) RaiseHashError();
}

void TLbSHA1::Update(const void* data, std::size_t size) {
  if (size != 0 && EVP_DigestUpdate(FContext, data, size) != 1) RaiseHashError();
}

void TLbSHA1::End() {
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(FContext, FDigest.data(), &length) != 1 || length != FDigest.size()) {
    RaiseHashError();
  }
}

void TLbSHA1::HashBytes(const void* data, std::size_t size) {
  Begin();
  Update(data, size);
  End();
}

void TLbSHA1::HashSource(std::u16string_view source) {
  // Pieces small enough for the buffer to stay in the first-level cache between the encoder and
  // the hash; a multiple of 64 code units keeps whole ASCII pieces at whole SHA-1 blocks.
  constexpr std::size_t kPieceUnits = 4096;
  char buffer[MaxSourceBytes(kPieceUnits)];
  Begin();
  const char16_t* p = source.data();
  const char16_t* end = p + source.size();
  while (p < end) {
    const char16_t* pieceEnd =
        end - p > static_cast<std::ptrdiff_t>(kPieceUnits) ? p + kPieceUnits : end;
    char* bytesEnd = EncodeSourceUnits(p, pieceEnd, buffer);
    Update(buffer, static_cast<std::size_t>(bytesEnd - buffer));
    p = pieceEnd;
  }
  End();
}

}  // namespace pairsweep::scan
