#include <gtest/gtest.h>

#include <set>

#include "scan/Fingerprint.h"
#include "scan/SeenSet.h"

namespace pairsweep::scan {
namespace {

std::string KeyFor(std::uint32_t n) {
  TLbSHA1 hash;
  hash.HashBytes(&n, sizeof n);
  TDigest digest;
  hash.GetDigest(digest);
  return DigestToHex(digest.data(), 20);
}

THashData* Record(const std::string& key) {
  auto* data = new THashData;
  data->HashText.Assign(key);
  return data;
}

TEST(SeenSetTest, FindsEveryKeyFarBeyondItsBucketCount) {
  constexpr std::uint32_t kKeys = 30000;
  TSeenSet set(kSeenSetBuckets);
  for (std::uint32_t i = 0; i < kKeys; ++i) {
    ASSERT_FALSE(set.Exists(KeyFor(i)));
    set.Add(KeyFor(i), Record(KeyFor(i)));
  }
  EXPECT_EQ(set.BucketCount(), kSeenSetBuckets);
  for (std::uint32_t i = 0; i < kKeys; ++i) {
    THashData* data = nullptr;
    ASSERT_TRUE(set.Exists(KeyFor(i), &data)) << i;
    EXPECT_EQ(data->HashText.View(), KeyFor(i));
  }
  for (std::uint32_t i = kKeys; i < kKeys + 1000; ++i) EXPECT_FALSE(set.Exists(KeyFor(i)));
}

TEST(SeenSetTest, KeysDifferingInOneCharacterAreDistinct) {
  TSeenSet set(kSeenSetBuckets);
  const std::string key = KeyFor(1);
  set.Add(key, Record(key));
  for (std::size_t i = 0; i < key.size(); ++i) {
    std::string other = key;
    other[i] = other[i] == '0' ? '1' : '0';
    EXPECT_FALSE(set.Exists(other)) << i;
  }
  EXPECT_FALSE(set.Exists(key.substr(0, 39)));
  EXPECT_TRUE(set.Exists(key));
}

TEST(SeenSetTest, FreeingHandsEveryRecordToTheDisposeEventOnce) {
  for (int entries : {0, 1, 4097, 12000}) {
    int disposed = 0;
    std::set<THashData*> seen;
    {
      TSeenSet set(kSeenSetBuckets);
      set.SetOnDisposeData([&](TSeenSet& sender, THashData* data) {
        EXPECT_EQ(&sender, &set);
        EXPECT_TRUE(seen.insert(data).second) << "disposed twice";
        ++disposed;
        delete data;
      });
      for (int i = 0; i < entries; ++i) set.Add(KeyFor(i), Record(KeyFor(i)));
    }
    EXPECT_EQ(disposed, entries);
  }
}

}  // namespace
}  // namespace pairsweep::scan
