#include <gtest/gtest.h>

#include <string>

#include "scan/Fingerprint.h"

namespace pairsweep::scan {
namespace {

std::string Hex(const std::string& bytes) {
  return DigestToHex(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                     static_cast<int>(bytes.size()));
}

std::string Fingerprint(std::u16string_view source) {
  TLbSHA1 hash;
  hash.HashSource(source);
  TDigest digest;
  hash.GetDigest(digest);
  return DigestToHex(digest.data(), 20);
}

struct TEncodingCase {
  const char* Name;
  std::u16string Source;
  const char* Bytes;
};

void PrintTo(const TEncodingCase& c, std::ostream* os) { *os << c.Name; }

class SourceBytesTest : public ::testing::TestWithParam<TEncodingCase> {};

TEST_P(SourceBytesTest, EncodesEveryCodeUnitByItself) {
  const TEncodingCase& c = GetParam();
  EXPECT_EQ(Hex(SourceBytes(c.Source)), c.Bytes);
  // The streaming hash must see exactly these bytes.
  TLbSHA1 hash;
  hash.HashString(SourceBytes(c.Source));
  TDigest digest;
  hash.GetDigest(digest);
  EXPECT_EQ(Fingerprint(c.Source), DigestToHex(digest.data(), 20));
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, SourceBytesTest,
    ::testing::Values(
        TEncodingCase{"Empty", u"", ""}, TEncodingCase{"Ascii", u"abc", "616263"},
        TEncodingCase{"Nul", std::u16string(u"a\0b", 3), "610062"},
        TEncodingCase{"LastOneByte", u"\u007F", "7F"},
        TEncodingCase{"FirstTwoByte", u"\u0080", "C280"},
        TEncodingCase{"EAcute", u"\u00E9", "C3A9"}, TEncodingCase{"LastTwoByte", u"\u07FF", "DFBF"},
        TEncodingCase{"FirstThreeByte", u"\u0800", "E0A080"},
        TEncodingCase{"LastThreeByte", u"\uFFFF", "EFBFBF"},
        TEncodingCase{"PairStaysTwoUnits", u"\U0001F600", "EDA0BDEDB880"},
        TEncodingCase{"LoneHighSurrogate", std::u16string{char16_t(0xD800), u'A'}, "EDA08041"},
        TEncodingCase{"LoneLowSurrogate", std::u16string{char16_t(0xDFFF)}, "EDBFBF"},
        // Non-ASCII right after a run of four ASCII units, and inside one.
        TEncodingCase{"AsciiRunBoundary", u"abcd\u00E9fgh\u0080", "61626364C3A9666768C280"}),
    [](const auto& info) { return info.param.Name; });

TEST(FingerprintTest, KnownDigests) {
  EXPECT_EQ(Fingerprint(u"abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(Fingerprint(u""), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  // FIPS 180-1's two-block vector.
  EXPECT_EQ(Fingerprint(u"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
}

TEST(FingerprintTest, LongSourceHashedInPiecesEqualsWholeBytes) {
  // Longer than one encoding piece, with multi-byte units straddling the piece boundaries.
  std::u16string source;
  for (int i = 0; i < 30000; ++i)
    source += static_cast<char16_t>(i % 7 == 0 ? 0x20AC : 'a' + i % 26);
  TLbSHA1 whole;
  whole.HashString(SourceBytes(source));
  TDigest expected;
  whole.GetDigest(expected);
  EXPECT_EQ(Fingerprint(source), DigestToHex(expected.data(), 20));
}

// The whole literal, NULs included.
template <std::size_t N>
std::u16string Text(const char16_t (&literal)[N]) {
  return std::u16string(literal, N - 1);
}

TEST(FingerprintTest, DiffersForTextsThatDifferAnywhere) {
  const std::u16string base = Text(u"From: a\r\nSubject: x\r\n\r\nbody\0tail");
  const std::u16string variants[] = {
      Text(u"From: a\r\nSubject: x\r\n\r\nbody\0tai!"),   // after a NUL
      Text(u"from: a\r\nSubject: x\r\n\r\nbody\0tail"),   // letter case
      Text(u"From: a\nSubject: x\n\nbody\0tail"),         // line ends
      Text(u"From: a\r\nSubject: x\r\n\r\nbody\0tail "),  // trailing blank
  };
  for (const auto& variant : variants) EXPECT_NE(Fingerprint(base), Fingerprint(variant));
}

TEST(FingerprintTest, EachComputationStartsAfresh) {
  TLbSHA1 hash;
  hash.HashSource(u"something else first");
  hash.HashSource(u"abc");
  TDigest digest;
  hash.GetDigest(digest);
  EXPECT_EQ(DigestToHex(digest.data(), 20), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST(DigestToHexTest, TwoCapitalDigitsPerByte) {
  const std::uint8_t bytes[] = {0x06, 0x00, 0xAB, 0xFF, 0x10};
  EXPECT_EQ(DigestToHex(bytes, 5), "0600ABFF10");
  EXPECT_EQ(DigestToHex(bytes, 0), "");
  EXPECT_EQ(DigestToHex(bytes, -3), "");
}

}  // namespace
}  // namespace pairsweep::scan
