// The message fingerprint: which bytes of a message are hashed, the hash, and how the digest
// becomes text.
//
// Source bytes: every UTF-16 code unit of the source text encoded by itself as in UTF-8, so a
// surrogate pair becomes two three-byte sequences and a lone surrogate is kept, not replaced.
// Nothing is normalised. Two source texts give equal source bytes exactly when they are equal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace pairsweep::scan {

using TDigest = std::array<std::uint8_t, 20>;

// Appends the source bytes of `source` to `bytes`. A text of n code units gives n to 3n bytes.
void AppendSourceBytes(std::u16string_view source, std::string& bytes);
std::string SourceBytes(std::u16string_view source);

// `count` bytes from `buffer` as two capital hexadecimal digits each, high nibble first, without
// separators. A count of 0 or less gives the empty text.
std::string DigestToHex(const std::uint8_t* buffer, int count);

// SHA-1 (FIPS 180-1) over OpenSSL's libcrypto. Each computation starts from the initial state;
// the object keeps the digest of its last computation until the next one.
class TLbSHA1 {
 public:
  TLbSHA1();
  ~TLbSHA1();
  TLbSHA1(const TLbSHA1&) = delete;
  TLbSHA1& operator=(const TLbSHA1&) = delete;

  // Hashes a whole byte string.
  void HashBytes(const void* data, std::size_t size);
  void HashString(std::string_view bytes) { HashBytes(bytes.data(), bytes.size()); }
  // Hashes the source bytes of a source text. The text is encoded in pieces as it is hashed, so
  // no copy of the whole message is made; the digest equals HashString(SourceBytes(source)).
  void HashSource(std::u16string_view source);

  // Copies the digest of the last computation out.
  void GetDigest(TDigest& digest) const { digest = FDigest; }

 private:
  void Begin();
  void Update(const void* data, std::size_t size);
  void End();

  ::evp_md_ctx_st* FContext;
  TDigest FDigest{};
};

}  // namespace pairsweep::scan
