#include "scan/Fingerprint.h"

#include <openssl/evp.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

#include "store/Errors.h"

namespace pairsweep::scan {
namespace {

// One code unit, without branches: mail that mixes scripts makes the length of the next unit
// unpredictable. Always stores three bytes; `out` must have room for them.
inline char* EncodeUnit(char16_t unit, char* out) {
  const std::uint32_t u = unit;
  const bool two = u >= 0x80;
  const bool three = u >= 0x800;
  const std::uint32_t low = 0x80 | (u & 0x3F);
  const std::uint32_t middle = 0x80 | ((u >> 6) & 0x3F);
  out[0] = static_cast<char>(three ? 0xE0 | (u >> 12) : two ? 0xC0 | (u >> 6) : u);
  out[1] = static_cast<char>(three ? middle : low);
  out[2] = static_cast<char>(low);
  return out + 1 + two + three;
}

// Encodes [p, end) into `out`, which has room for 3 bytes per code unit; returns the new end.
char* EncodeUnits(const char16_t* p, const char16_t* end, char* out) {
#if defined(__SSE2__)
  // Sixteen units at a time: runs of ASCII, the bulk of mail, are narrowed in one step.
  const __m128i highBits = _mm_set1_epi16(static_cast<short>(0xFF80));
  while (end - p >= 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    const __m128i high = _mm_and_si128(_mm_or_si128(a, b), highBits);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(high, _mm_setzero_si128())) == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
      out += 16;
    } else {
      for (int i = 0; i < 16; ++i) out = EncodeUnit(p[i], out);
    }
    p += 16;
  }
#endif
  while (p < end) out = EncodeUnit(*p++, out);
  return out;
}

}  // namespace

void AppendSourceBytes(std::u16string_view source, std::string& bytes) {
  const std::size_t start = bytes.size();
  bytes.resize(start + 3 * source.size());
  char* end = EncodeUnits(source.data(), source.data() + source.size(), bytes.data() + start);
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
  char buffer[3 * kPieceUnits];
  Begin();
  const char16_t* p = source.data();
  const char16_t* end = p + source.size();
  while (p < end) {
    const char16_t* pieceEnd =
        end - p > static_cast<std::ptrdiff_t>(kPieceUnits) ? p + kPieceUnits : end;
    char* bytesEnd = EncodeUnits(p, pieceEnd, buffer);
    Update(buffer, static_cast<std::size_t>(bytesEnd - buffer));
    p = pieceEnd;
  }
  End();
}

}  // namespace pairsweep::scan
