// Fingerprint throughput: encoding a source text and hashing its bytes, against OpenSSL's SHA-1
// alone over the same bytes. Both report bytes/s of source bytes, so their ratio is the cost of
// the encoding. BM_Encode times each encoder the processor runs by itself, without the hash.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "scan/Fingerprint.h"
#include "scan/SourceEncoding.h"

namespace {

using namespace pairsweep::scan;

enum TContent { kAscii, kMixed, kLatin, kCjk };

// Mail-like text: ASCII, or ASCII with accented letters, CJK and emoji mixed in (about one unit
// in eight is not ASCII); Latin is a European language with one letter in six accented, CJK is
// Chinese or Japanese prose with ASCII only for spaces, line ends and the odd Latin word.
std::u16string MakeSource(TContent content, std::size_t bytes) {
  std::mt19937 random(42);
  std::u16string source;
  std::size_t encoded = 0;
  while (encoded < bytes) {
    const unsigned r = random() % 64;
    if (content == kLatin) {
      const bool accented = r < 11;
      source += static_cast<char16_t>(accented  ? 0xE0 + r
                                      : r < 20  ? u' '
                                      : r == 20 ? u'\n'
                                                : u'a' + r % 26);
      encoded += accented ? 2 : 1;
      continue;
    }
    if (content == kCjk) {
      const bool ascii = r < 8;
      source +=
          static_cast<char16_t>(ascii ? (r == 0 ? u'\n' : u'a' + r) : 0x4E00 + random() % 0x5000);
      encoded += ascii ? 1 : 3;
      continue;
    }
    if (content == kMixed && r < 4) {
      source += u"\u00E9";
      encoded += 2;
    } else if (content == kMixed && r < 6) {
      source += u"\u65E5";
      encoded += 3;
    } else if (content == kMixed && r < 7) {
      source += u"\U0001F600";
      encoded += 6;
    } else {
      source += static_cast<char16_t>(r % 10 == 0 ? u'\n' : u'a' + r % 26);
      encoded += 1;
    }
  }
  return source;
}

void BM_Fingerprint(benchmark::State& state) {
  const std::u16string source =
      MakeSource(static_cast<TContent>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  const std::size_t bytes = SourceBytes(source).size();
  TLbSHA1 hash;
  TDigest digest;
  for (auto _ : state) {
    hash.HashSource(source);
    hash.GetDigest(digest);
    benchmark::DoNotOptimize(DigestToHex(digest.data(), 20));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_Sha1Only(benchmark::State& state) {
  const std::string bytes = SourceBytes(
      MakeSource(static_cast<TContent>(state.range(0)), static_cast<std::size_t>(state.range(1))));
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  unsigned char digest[20];
  for (auto _ : state) {
    EVP_DigestInit_ex2(context, EVP_sha1(), nullptr);
    EVP_DigestUpdate(context, bytes.data(), bytes.size());
    EVP_DigestFinal_ex(context, digest, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_CTX_free(context);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_Encode(benchmark::State& state) {
  const std::u16string source =
      MakeSource(static_cast<TContent>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  const auto encoder = static_cast<TSourceEncoder>(state.range(2));
  std::vector<char> bytes(MaxSourceBytes(source.size()));
  std::size_t size = 0;
  for (auto _ : state) {
    size = static_cast<std::size_t>(
        EncodeSourceUnitsWith(encoder, source.data(), source.data() + source.size(), bytes.data()) -
        bytes.data());
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.SetLabel(SourceEncoderName(encoder));
}

// Content 0 is ASCII and 1 the mixed text, as the argument names said before the other kinds
// were added.
void Sizes(benchmark::internal::Benchmark* b) {
  for (int content : {kAscii, kMixed, kLatin, kCjk}) {
    for (int size : {1 << 10, 64 << 10, 4 << 20}) b->Args({content, size});
  }
  b->ArgNames({"mixed", "bytes"});
}

void EncoderSizes(benchmark::internal::Benchmark* b) {
  for (int content : {kAscii, kMixed, kLatin, kCjk}) {
    for (TSourceEncoder encoder : AvailableSourceEncoders()) {
      b->Args({content, 64 << 10, static_cast<int>(encoder)});
    }
  }
  b->ArgNames({"mixed", "bytes", "encoder"});
}

BENCHMARK(BM_Fingerprint)->Apply(Sizes);
BENCHMARK(BM_Sha1Only)->Apply(Sizes);
BENCHMARK(BM_Encode)->Apply(EncoderSizes);

}  // namespace

BENCHMARK_MAIN();
