// The encoder behind the source bytes (see Fingerprint.h): every UTF-16 code unit by itself as in
// UTF-8, surrogates included, one to three bytes per unit.
//
// There is one portable implementation and, on x86-64, vector ones for the instruction sets the
// processor may have. EncodeSourceUnits picks the fastest one the processor runs, once, the first
// time it is called; all of them give the same bytes. The others are reachable by name so that
// tests can hold each one against the portable one on any machine that runs it.
#pragma once

#include <cstddef>
#include <vector>

namespace pairsweep::scan {

enum class TSourceEncoder {
  kScalar,  // any processor
  kSse2,    // x86-64 baseline: runs of ASCII sixteen units at a time, the rest unit by unit
  kAvx2,    // AVX2: every unit class in vector blocks
  kAvx512,  // AVX-512 BW, VL, VBMI and VBMI2: byte compression of whole blocks
};

// Bytes that `count` code units can take at most; the size an output buffer needs.
constexpr std::size_t MaxSourceBytes(std::size_t count) { return 3 * count; }

// Encodes the units [first, last) into `out`, which must have room for
// MaxSourceBytes(last - first) bytes, and returns the end of the bytes written. Reads nothing
// outside [first, last) and writes nothing outside that room.
char* EncodeSourceUnits(const char16_t* first, const char16_t* last, char* out);

// The same with a named implementation, which the processor must run (see
// AvailableSourceEncoders).
char* EncodeSourceUnitsWith(TSourceEncoder encoder, const char16_t* first, const char16_t* last,
                            char* out);

// The implementations this processor runs, kScalar first and the one EncodeSourceUnits uses last.
std::vector<TSourceEncoder> AvailableSourceEncoders();

const char* SourceEncoderName(TSourceEncoder encoder);

}  // namespace pairsweep::scan
