#include "store/maildir/SourceDecoding.h"

#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace pairsweep::store::maildir {
namespace {

constexpr std::ptrdiff_t kInvalid = 0;
constexpr std::ptrdiff_t kIncomplete = -1;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence that starts at `p` (2 to 4), kInvalid when the bytes
// cannot begin one, or kIncomplete when the `available` bytes are a valid beginning cut short.
// Overlong forms, encoded surrogates and code points above U+10FFFF are invalid.
std::ptrdiff_t MultiByteLength(const unsigned char* p, std::size_t available) {
  const unsigned char lead = p[0];
  std::size_t length;
  unsigned char secondMin = 0x80, secondMax = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) secondMin = 0xA0;
    if (lead == 0xED) secondMax = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) secondMin = 0x90;
    if (lead == 0xF4) secondMax = 0x8F;
  } else {
    return kInvalid;
  }
  if (available < 2) return kIncomplete;
  if (p[1] < secondMin || p[1] > secondMax) return kInvalid;
  for (std::size_t i = 2; i < length; ++i) {
    if (i >= available) return kIncomplete;
    if (!IsContinuation(p[i])) return kInvalid;
  }
  return static_cast<std::ptrdiff_t>(length);
}

}  // namespace

std::size_t AppendDecodedSource(std::string_view bytes, bool final, std::u16string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  // Every byte gives at most one code unit (a four-byte sequence gives two).
  const std::size_t start = text.size();
  text.resize(start + n);
  char16_t* out = text.data() + start;
  std::size_t o = 0;
  std::size_t i = 0;
  while (i < n) {
    // Mail is mostly ASCII: take it sixteen bytes at a time.
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      // Widened whole even when it holds a byte above 0x7F: only its ASCII front is kept, and
      // what follows is written over. The room is there, as o - start never exceeds i.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_unpacklo_epi8(block, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 8), _mm_unpackhi_epi8(block, zero));
      const int high = _mm_movemask_epi8(block);
      if (high != 0) {
        const int ascii = __builtin_ctz(static_cast<unsigned>(high));
        i += static_cast<std::size_t>(ascii);
        o += static_cast<std::size_t>(ascii);
        break;
      }
      i += 16;
      o += 16;
    }
#else
    while (i + 16 <= n) {
      std::uint64_t a, b;
      std::memcpy(&a, p + i, 8);
      std::memcpy(&b, p + i + 8, 8);
      if ((a | b) & 0x8080808080808080ULL) break;
      for (int k = 0; k < 16; ++k) out[o + k] = p[i + k];
      i += 16;
      o += 16;
    }
#endif
    if (i >= n) break;
    const unsigned char lead = p[i];
    if (lead < 0x80) {
      out[o++] = lead;
      ++i;
      continue;
    }
    const std::ptrdiff_t length = MultiByteLength(p + i, n - i);
    if (length == kIncomplete && !final) break;
    if (length <= 0) {
      out[o++] = static_cast<char16_t>(0xDC00 + lead);
      ++i;
      continue;
    }
    std::uint32_t codePoint = lead & (0x7F >> length);
    for (std::ptrdiff_t k = 1; k < length; ++k) codePoint = (codePoint << 6) | (p[i + k] & 0x3F);
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      out[o++] = static_cast<char16_t>(0xD800 + (codePoint >> 10));
      out[o++] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    } else {
      out[o++] = static_cast<char16_t>(codePoint);
    }
    i += static_cast<std::size_t>(length);
  }
  text.resize(start + o);
  return i;
}

std::u16string DecodeSource(std::string_view bytes) {
  std::u16string text;
  AppendDecodedSource(bytes, true, text);
  return text;
}

}  // namespace pairsweep::store::maildir
