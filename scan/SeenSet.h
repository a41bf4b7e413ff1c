// The seen-set: the fingerprints one scan has met, each with the record the scan added with it.
//
// TStDictionary is a text-keyed hash table with a fixed number of buckets, chosen at creation and
// never changed: beyond that many entries the chains grow longer. Entries are only ever added.
// It owns every record from the moment it is added and hands each one, exactly once, to the
// dispose-data event when it is destroyed. Not thread-safe; one scan uses it on one thread.
//
// Each bucket is a contiguous chain of (tag, entry index) pairs, the tag being part of the key's
// hash, so that walking a long chain reads one array instead of chasing a pointer per entry; the
// full key is compared only where the tag matches. Keys are stored in large blocks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace pairsweep::scan {

template <class TData>
class TStDictionary {
 public:
  using TDisposeDataEvent = std::function<void(TStDictionary& sender, TData* data)>;

  // Keys are texts of at most this many characters, none of them NUL (fingerprints have 40
  // hexadecimal digits); Add refuses longer ones.
  static constexpr std::size_t kMaxKeyLength = 40;

  explicit TStDictionary(std::size_t bucketCount) : FBuckets(bucketCount) {}
  ~TStDictionary();
  TStDictionary(const TStDictionary&) = delete;
  TStDictionary& operator=(const TStDictionary&) = delete;

  void SetOnDisposeData(TDisposeDataEvent event) { FOnDisposeData = std::move(event); }

  // True when an entry with this key was added before; `data` then receives its record.
  bool Exists(std::string_view key, TData** data = nullptr) const;
  // Adds an entry; the key must not be present yet. Takes ownership of `data`.
  void Add(std::string_view key, TData* data);

  std::size_t Count() const { return FCount; }
  std::size_t BucketCount() const { return FBuckets.size(); }

 private:
  // 48 bytes: the key is NUL-padded in place, so it needs no length of its own.
  struct TEntry {
    TData* Data;
    char Key[kMaxKeyLength];
    std::string_view KeyView() const { return {Key, strnlen(Key, kMaxKeyLength)}; }
  };
  struct TLink {
    std::uint32_t Tag;
    std::uint32_t Index;
  };
  static constexpr std::size_t kBlockSize = 4096;

  static std::uint64_t HashKey(std::string_view key);
  const TEntry& EntryAt(std::uint32_t index) const {
    return FBlocks[index / kBlockSize][index % kBlockSize];
  }

  std::vector<std::vector<TLink>> FBuckets;
  std::vector<std::unique_ptr<TEntry[]>> FBlocks;
  std::size_t FCount = 0;
  TDisposeDataEvent FOnDisposeData;
};

template <class TData>
TStDictionary<TData>::~TStDictionary() {
  for (std::size_t i = 0; i < FCount; ++i) {
    TData* data = EntryAt(static_cast<std::uint32_t>(i)).Data;
    if (FOnDisposeData) {
      FOnDisposeData(*this, data);
    } else {
      delete data;
    }
  }
}

template <class TData>
std::uint64_t TStDictionary<TData>::HashKey(std::string_view key) {
  // FNV-1a, eight bytes at a time, then a final mix (fmix64) so every bit counts in both the
  // bucket and the tag.
  std::uint64_t h = 0xcbf29ce484222325ULL ^ key.size();
  std::size_t i = 0;
  for (; i + 8 <= key.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, key.data() + i, 8);
    h = (h ^ word) * 0x100000001b3ULL;
  }
  for (; i < key.size(); ++i) h = (h ^ static_cast<unsigned char>(key[i])) * 0x100000001b3ULL;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

template <class TData>
bool TStDictionary<TData>::Exists(std::string_view key, TData** data) const {
  const std::uint64_t hash = HashKey(key);
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  for (const TLink& link : FBuckets[hash % FBuckets.size()]) {
    if (link.Tag != tag) continue;
    const TEntry& entry = EntryAt(link.Index);
    if (entry.KeyView() == key) {
      if (data) *data = entry.Data;
      return true;
    }
  }
  return false;
}

template <class TData>
void TStDictionary<TData>::Add(std::string_view key, TData* data) {
  std::unique_ptr<TData> owned(data);
  if (key.size() > kMaxKeyLength) throw std::length_error("dictionary key too long");
  if (FCount == FBlocks.size() * kBlockSize)
    FBlocks.push_back(std::make_unique<TEntry[]>(kBlockSize));
  const std::uint64_t hash = HashKey(key);
  auto& bucket = FBuckets[hash % FBuckets.size()];
  // Growing by half, not by doubling, keeps the chains' unused room small.
  if (bucket.size() == bucket.capacity()) bucket.reserve(bucket.size() + bucket.size() / 2 + 1);
  bucket.push_back({static_cast<std::uint32_t>(hash >> 32), static_cast<std::uint32_t>(FCount)});
  TEntry& entry = FBlocks[FCount / kBlockSize][FCount % kBlockSize];
  std::memset(entry.Key, 0, kMaxKeyLength);
  std::memcpy(entry.Key, key.data(), key.size());
  entry.Data = owned.release();
  ++FCount;
}

// The record of one seen-set entry: a second copy of its fingerprint.
struct THashData {
  // The fingerprint text, held in place and NUL-padded, so that a record is one 40-byte
  // allocation.
  class TText {
   public:
    void Assign(std::string_view text) {
      std::memset(FChars, 0, sizeof FChars);
      std::memcpy(FChars, text.data(), std::min(text.size(), sizeof FChars));
    }
    void Clear() { FChars[0] = '\0'; }
    std::string_view View() const { return {FChars, strnlen(FChars, sizeof FChars)}; }

   private:
    char FChars[40] = {};
  };
  TText HashText;
};

using TSeenSet = TStDictionary<THashData>;
inline constexpr std::size_t kSeenSetBuckets = 10001;

}  // namespace pairsweep::scan
