#include "scan/SourceEncoding.h"

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PAIRSWEEP_X86_ENCODERS 1
#include <immintrin.h>
#endif

namespace pairsweep::scan {
namespace {

using TEncodeFunction = char* (*)(const char16_t*, const char16_t*, char*);

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

char* EncodeScalar(const char16_t* p, const char16_t* end, char* out) {
  while (p < end) out = EncodeUnit(*p++, out);
  return out;
}

#if defined(PAIRSWEEP_X86_ENCODERS)

char* EncodeSse2(const char16_t* p, const char16_t* end, char* out) {
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
  return EncodeScalar(p, end, out);
}

// The AVX2 encoder widens each unit to 32 bits holding its one to three bytes, lowest first, and
// squeezes out the unused bytes four units at a time with a shuffle from this table. The index
// has a bit per unit that takes a second byte (bits 0-3) and one per unit that takes a third
// (bits 4-7), so a group of four gives 4 + popcount(index) bytes.
struct TCompactTable {
  alignas(16) std::uint8_t Shuffle[256][16];
};

constexpr TCompactTable MakeCompactTable() {
  TCompactTable table{};
  for (int index = 0; index < 256; ++index) {
    int n = 0;
    for (int unit = 0; unit < 4; ++unit) {
      table.Shuffle[index][n++] = static_cast<std::uint8_t>(4 * unit);
      if ((index >> unit) & 1) table.Shuffle[index][n++] = static_cast<std::uint8_t>(4 * unit + 1);
      if ((index >> (unit + 4)) & 1) {
        table.Shuffle[index][n++] = static_cast<std::uint8_t>(4 * unit + 2);
      }
    }
    while (n < 16) table.Shuffle[index][n++] = 0x80;
  }
  return table;
}

constexpr TCompactTable kCompactTable = MakeCompactTable();

// Eight units; stores 28 bytes from `out` whatever their length, so `out` needs room for that.
__attribute__((target("avx2,popcnt"))) inline char* EncodeEightAvx2(__m128i units, char* out) {
  const __m256i u = _mm256_cvtepu16_epi32(units);
  const __m256i sixBits = _mm256_set1_epi32(0x3F);
  const __m256i continuation = _mm256_set1_epi32(0x80);
  const __m256i shifted6 = _mm256_srli_epi32(u, 6);
  const __m256i low = _mm256_or_si256(_mm256_and_si256(u, sixBits), continuation);
  const __m256i middle = _mm256_or_si256(_mm256_and_si256(shifted6, sixBits), continuation);
  // Below 0x800, u >> 6 fits in the five bits that the lead byte 110xxxxx leaves.
  const __m256i two = _mm256_or_si256(_mm256_or_si256(shifted6, _mm256_set1_epi32(0xC0)),
                                      _mm256_slli_epi32(low, 8));
  const __m256i three =
      _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(u, 12), _mm256_set1_epi32(0xE0)),
                      _mm256_or_si256(_mm256_slli_epi32(middle, 8), _mm256_slli_epi32(low, 16)));
  // Units are at most 0xFFFF, so the signed comparison is exact.
  const __m256i takesTwo = _mm256_cmpgt_epi32(u, _mm256_set1_epi32(0x7F));
  const __m256i takesThree = _mm256_cmpgt_epi32(u, _mm256_set1_epi32(0x7FF));
  const __m256i bytes = _mm256_blendv_epi8(_mm256_blendv_epi8(u, two, takesTwo), three, takesThree);
  const unsigned second = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(takesTwo)));
  const unsigned third = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(takesThree)));
  const unsigned lowIndex = (second & 0x0F) | ((third & 0x0F) << 4);
  const unsigned highIndex = (second >> 4) | (third & 0xF0);
  const __m128i lowBytes = _mm_shuffle_epi8(
      _mm256_castsi256_si128(bytes),
      _mm_load_si128(reinterpret_cast<const __m128i*>(kCompactTable.Shuffle[lowIndex])));
  const __m128i highBytes = _mm_shuffle_epi8(
      _mm256_extracti128_si256(bytes, 1),
      _mm_load_si128(reinterpret_cast<const __m128i*>(kCompactTable.Shuffle[highIndex])));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lowBytes);
  out += 4 + _mm_popcnt_u32(lowIndex);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), highBytes);
  return out + 4 + _mm_popcnt_u32(highIndex);
}

__attribute__((target("avx2,popcnt"))) char* EncodeAvx2(const char16_t* p, const char16_t* end,
                                                        char* out) {
  const __m256i highBits = _mm256_set1_epi16(static_cast<short>(0xFF80));
  // A block of 32 has 96 bytes of room, and its last group may store up to 100 bytes from the
  // start of the block, so two more units must follow it.
  while (end - p >= 34) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
    if (_mm256_testz_si256(_mm256_or_si256(a, b), highBits)) {
      // packus interleaves the 128-bit lanes of a and b; the permutation restores unit order.
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                          _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
      out += 32;
    } else {
      out = EncodeEightAvx2(_mm256_castsi256_si128(a), out);
      out = EncodeEightAvx2(_mm256_extracti128_si256(a, 1), out);
      out = EncodeEightAvx2(_mm256_castsi256_si128(b), out);
      out = EncodeEightAvx2(_mm256_extracti128_si256(b, 1), out);
    }
    p += 32;
  }
  // Ten units leave 30 bytes of room for the 28 that a group stores.
  while (end - p >= 10) {
    out = EncodeEightAvx2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), out);
    p += 8;
  }
  return EncodeScalar(p, end, out);
}

#define PAIRSWEEP_AVX512_TARGET \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2,popcnt")))

// Thirty-two units. Each unit becomes a 16-bit `head` of its first one or two bytes and a 16-bit
// `tail` holding its third, and interleaving the two lays the units out as four bytes each. Every
// byte that a unit does not use is 0xFF, which no byte of the encoding can be (lead bytes are at
// most 0xEF, continuation bytes 10xxxxxx), so a compression of the bytes other than 0xFF leaves
// the encoding. `valid` says which units exist; only a call with kExact set honours it, keeping
// the stores to the bytes produced. Without kExact each half stores 64 bytes, so `out` needs
// room for 112.
template <bool kExact>
PAIRSWEEP_AVX512_TARGET inline char* EncodeThirtyTwoAvx512(__m512i units, std::uint32_t valid,
                                                           char* out) {
  // The interleaving works within 128-bit lanes, on units 0-3 (low) and 4-7 (high) of each. With
  // the units placed so that lane k holds units 4k-4k+3 and 16+4k-16+4k+3, the low interleave
  // gives units 0-15 in order and the high one units 16-31.
  const __m512i u =
      _mm512_maskz_permutexvar_epi64(0xFF, _mm512_set_epi64(7, 3, 6, 2, 5, 1, 4, 0), units);
  const __m512i unused = _mm512_set1_epi8(static_cast<char>(0xFF));
  const __mmask32 takesTwo = _mm512_cmpgt_epu16_mask(u, _mm512_set1_epi16(0x7F));
  const __mmask32 takesThree = _mm512_cmpgt_epu16_mask(u, _mm512_set1_epi16(0x7FF));
  // The first two bytes of a three-byte unit are those of a two-byte unit for u >> 6, with lead
  // 1110xxxx for 110xxxxx: (v >> 6) | 0xC0 then (v & 0x3F) | 0x80.
  const __m512i v = _mm512_mask_srli_epi16(u, takesThree, u, 6);
  const __m512i marker =
      _mm512_mask_mov_epi16(_mm512_set1_epi16(static_cast<short>(0x80C0)), takesThree,
                            _mm512_set1_epi16(static_cast<short>(0x80E0)));
  // Ternary-logic function 0xF8 is a | (b & c), 0xFE is a | b | c and 0xEA is (a & b) | c.
  const __m512i lead = _mm512_ternarylogic_epi32(_mm512_srli_epi16(v, 6), _mm512_slli_epi16(v, 8),
                                                 _mm512_set1_epi16(0x3F00), 0xF8);
  const __m512i head =
      _mm512_mask_mov_epi16(_mm512_or_si512(u, _mm512_set1_epi16(static_cast<short>(0xFF00))),
                            takesTwo, _mm512_or_si512(lead, marker));
  const __m512i tail = _mm512_mask_mov_epi16(
      unused, takesThree,
      _mm512_ternarylogic_epi32(u, _mm512_set1_epi16(0x3F),
                                _mm512_set1_epi16(static_cast<short>(0xFF80)), 0xEA));
  const __m512i lowHalf = _mm512_unpacklo_epi16(head, tail);
  const __m512i highHalf = _mm512_unpackhi_epi16(head, tail);
  __mmask64 lowKeep = _mm512_cmpneq_epi8_mask(lowHalf, unused);
  __mmask64 highKeep = _mm512_cmpneq_epi8_mask(highHalf, unused);
  unsigned lowCount;
  unsigned highCount;
  if constexpr (kExact) {
    // Four bits of keep mask per unit.
    constexpr std::uint64_t kFirst = 0x1111111111111111;
    lowKeep &= _pdep_u64(valid & 0xFFFF, kFirst) * 0xF;
    highKeep &= _pdep_u64(valid >> 16, kFirst) * 0xF;
    lowCount = static_cast<unsigned>(_mm_popcnt_u64(lowKeep));
    highCount = static_cast<unsigned>(_mm_popcnt_u64(highKeep));
  } else {
    // Counted from the comparisons rather than the keep masks, which come later. Units 0-15 sit
    // in the low quarter of each lane (bits 0-3, 8-11, ... of the comparison masks).
    const std::uint64_t extra = takesTwo | static_cast<std::uint64_t>(takesThree) << 32;
    lowCount = 16 + static_cast<unsigned>(_mm_popcnt_u64(extra & 0x0F0F0F0F0F0F0F0F));
    highCount = 16 + static_cast<unsigned>(_mm_popcnt_u64(extra & 0xF0F0F0F0F0F0F0F0));
  }
  const __m512i lowBytes = _mm512_maskz_compress_epi8(lowKeep, lowHalf);
  const __m512i highBytes = _mm512_maskz_compress_epi8(highKeep, highHalf);
  if constexpr (kExact) {
    _mm512_mask_storeu_epi8(out, _bzhi_u64(~0ULL, lowCount), lowBytes);
    out += lowCount;
    _mm512_mask_storeu_epi8(out, _bzhi_u64(~0ULL, highCount), highBytes);
  } else {
    _mm512_storeu_si512(out, lowBytes);
    out += lowCount;
    _mm512_storeu_si512(out, highBytes);
  }
  return out + highCount;
}

PAIRSWEEP_AVX512_TARGET char* EncodeAvx512(const char16_t* p, const char16_t* end, char* out) {
  const __m512i highBits = _mm512_set1_epi16(static_cast<short>(0xFF80));
  // A block of 64 has 192 bytes of room and may store up to 96 + 48 + 64 bytes from its start, so
  // six more units must follow it.
  while (end - p >= 70) {
    const __m512i a = _mm512_loadu_si512(p);
    const __m512i b = _mm512_loadu_si512(p + 32);
    if (_mm512_test_epi16_mask(_mm512_or_si512(a, b), highBits) == 0) {
      // packus interleaves the 128-bit lanes of a and b; the permutation restores unit order.
      // (Its zero-masking form, with nothing masked, because GCC 12 warns about the other one.)
      const __m512i order = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
      _mm512_storeu_si512(out,
                          _mm512_maskz_permutexvar_epi64(0xFF, order, _mm512_packus_epi16(a, b)));
      out += 64;
    } else {
      out = EncodeThirtyTwoAvx512<false>(a, ~0U, out);
      out = EncodeThirtyTwoAvx512<false>(b, ~0U, out);
    }
    p += 64;
  }
  while (p < end) {
    const unsigned count = end - p < 32 ? static_cast<unsigned>(end - p) : 32;
    const std::uint32_t valid = static_cast<std::uint32_t>(_bzhi_u64(~0ULL, count));
    out = EncodeThirtyTwoAvx512<true>(_mm512_maskz_loadu_epi16(valid, p), valid, out);
    p += count;
  }
  return out;
}

#endif  // PAIRSWEEP_X86_ENCODERS

TEncodeFunction FunctionOf(TSourceEncoder encoder) {
  switch (encoder) {
#if defined(PAIRSWEEP_X86_ENCODERS)
    case TSourceEncoder::kSse2:
      return EncodeSse2;
    case TSourceEncoder::kAvx2:
      return EncodeAvx2;
    case TSourceEncoder::kAvx512:
      return EncodeAvx512;
#endif
    default:
      return EncodeScalar;
  }
}

}  // namespace

std::vector<TSourceEncoder> AvailableSourceEncoders() {
  std::vector<TSourceEncoder> encoders{TSourceEncoder::kScalar};
#if defined(PAIRSWEEP_X86_ENCODERS)
  __builtin_cpu_init();
  encoders.push_back(TSourceEncoder::kSse2);
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt")) {
    encoders.push_back(TSourceEncoder::kAvx2);
  }
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
      __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2") &&
      __builtin_cpu_supports("popcnt")) {
    encoders.push_back(TSourceEncoder::kAvx512);
  }
#endif
  return encoders;
}

char* EncodeSourceUnitsWith(TSourceEncoder encoder, const char16_t* first, const char16_t* last,
                            char* out) {
  return FunctionOf(encoder)(first, last, out);
}

char* EncodeSourceUnits(const char16_t* first, const char16_t* last, char* out) {
  static const TEncodeFunction best = FunctionOf(AvailableSourceEncoders().back());
  return best(first, last, out);
}

const char* SourceEncoderName(TSourceEncoder encoder) {
  switch (encoder) {
    case TSourceEncoder::kScalar:
      return "Scalar";
    case TSourceEncoder::kSse2:
      return "Sse2";
    case TSourceEncoder::kAvx2:
      return "Avx2";
    case TSourceEncoder::kAvx512:
      return "Avx512";
  }
  return "Unknown";
}

}  // namespace pairsweep::scan
