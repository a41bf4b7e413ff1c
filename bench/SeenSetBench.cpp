// The seen-set at scale: a look-up that misses followed by the add, as the scan does for every new
// message, with the fixed 10001 buckets; and the memory one entry takes, its record included.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <random>
#include <string>
#include <vector>

#include "scan/Fingerprint.h"
#include "scan/SeenSet.h"

namespace {

using namespace pairsweep::scan;

std::vector<std::string> MakeKeys(std::size_t count, std::uint64_t seed) {
  std::vector<std::string> keys;
  keys.reserve(count);
  TLbSHA1 hash;
  TDigest digest;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t value[2] = {seed, i};
    hash.HashBytes(value, sizeof value);
    hash.GetDigest(digest);
    keys.push_back(DigestToHex(digest.data(), 20));
  }
  return keys;
}

void Add(TSeenSet& set, const std::string& key) {
  auto* data = new THashData;
  data->HashText.Assign(key);
  set.Add(key, data);
}

// Fills a set to N keys, then times look-up plus add of fresh keys; the set grows by at most a
// tenth while it is measured.
void BM_LookupAndAdd(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto existing = MakeKeys(size, 1);
  const auto fresh = MakeKeys(size / 10, 2);
  TSeenSet set(kSeenSetBuckets);
  for (const auto& key : existing) Add(set, key);
  std::size_t next = 0;
  for (auto _ : state) {
    const std::string& key = fresh[next++ % fresh.size()];
    if (!set.Exists(key)) Add(set, key);
  }
  state.counters["entries"] = static_cast<double>(set.Count());
}

// A look-up of a key that is present, at N keys.
void BM_LookupHit(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto keys = MakeKeys(size, 1);
  TSeenSet set(kSeenSetBuckets);
  for (const auto& key : keys) Add(set, key);
  std::mt19937_64 random(7);
  for (auto _ : state) benchmark::DoNotOptimize(set.Exists(keys[random() % size]));
}

// Small blocks and the large ones malloc maps by themselves, chunk headers included.
std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Heap bytes per entry: everything the set and its records allocate, bucket table included.
void BM_BytesPerEntry(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto keys = MakeKeys(size, 1);
  double perEntry = 0;
  for (auto _ : state) {
    const std::size_t before = HeapInUse();
    {
      TSeenSet set(kSeenSetBuckets);
      for (const auto& key : keys) Add(set, key);
      perEntry = static_cast<double>(HeapInUse() - before) / static_cast<double>(size);
    }
  }
  state.counters["bytes_per_entry"] = perEntry;
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int size : {10'000, 100'000, 1'000'000}) b->Arg(size);
}

BENCHMARK(BM_LookupAndAdd)->Arg(10'000)->Iterations(1'000);
BENCHMARK(BM_LookupAndAdd)->Arg(100'000)->Iterations(10'000);
BENCHMARK(BM_LookupAndAdd)->Arg(1'000'000)->Iterations(100'000);
BENCHMARK(BM_LookupHit)->Apply(Sizes);
BENCHMARK(BM_BytesPerEntry)->Apply(Sizes)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
