#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "scan/Fingerprint.h"
#include "scan/SourceEncoding.h"

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

// The encoding written as plainly as possible, to hold the fast encoders against.
std::string ReferenceBytes(std::u16string_view source) {
  std::string bytes;
  for (const char16_t unit : source) {
    const unsigned u = unit;
    if (u < 0x80) {
      bytes += static_cast<char>(u);
    } else if (u < 0x800) {
      bytes += static_cast<char>(0xC0 | (u >> 6));
      bytes += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      bytes += static_cast<char>(0xE0 | (u >> 12));
      bytes += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return bytes;
}

// Random text from the units where an encoder could go wrong: the edges of each length, NUL,
// surrogates alone and in pairs. `asciiShare` of the units (in 1/100) are ordinary ASCII, so that
// long ASCII runs, which the encoders take in whole blocks, break off at every position; text of
// three-byte units only fills the output room to its end.
std::u16string AdversarialText(std::mt19937& random, std::size_t length, unsigned asciiShare,
                               bool threeByteOnly = false) {
  std::u16string text;
  while (text.size() < length) {
    if (random() % 100 < asciiShare) {
      text += static_cast<char16_t>(0x20 + random() % 0x5F);
      continue;
    }
    switch (threeByteOnly ? 5 + random() % 7 : random() % 12) {
      case 0:
        text += char16_t(0x0000);
        break;
      case 1:
        text += char16_t(0x007F);
        break;
      case 2:
        text += char16_t(0x0080);
        break;
      case 3:
        text += static_cast<char16_t>(0x80 + random() % 0x780);
        break;
      case 4:
        text += char16_t(0x07FF);
        break;
      case 5:
        text += char16_t(0x0800);
        break;
      case 6:
        text += static_cast<char16_t>(0x800 + random() % 0xD000);
        break;
      case 7:
        text += char16_t(0xFFFF);
        break;
      case 8:
        text += static_cast<char16_t>(0xD800 + random() % 0x400);
        break;  // lone high
      case 9:
        text += static_cast<char16_t>(0xDC00 + random() % 0x400);
        break;  // lone low
      case 10:
        text += static_cast<char16_t>(0xD800 + random() % 0x400);
        text += static_cast<char16_t>(0xDC00 + random() % 0x400);
        break;
      default:
        text += static_cast<char16_t>(0xE000 + random() % 0x2000);
        break;
    }
  }
  text.resize(length);  // may split a pair: a lone high surrogate at the end
  return text;
}

class SourceEncoderTest : public ::testing::TestWithParam<TSourceEncoder> {};

TEST_P(SourceEncoderTest, MatchesReferenceAtEveryAlignment) {
  constexpr char kUntouched = 0x5A;
  constexpr std::size_t kGuard = 64;
  std::mt19937 random(2024);
  const unsigned asciiShares[] = {0, 50, 90, 99, 100, 0};
  for (int trial = 0; trial < 480; ++trial) {
    const int mix = trial % static_cast<int>(std::size(asciiShares));
    const std::u16string text = AdversarialText(random, random() % 301, asciiShares[mix], mix == 5);
    const std::string expected = ReferenceBytes(text);
    // Every placement of the text within a 64-byte line, and of the output too.
    for (std::size_t offset = 0; offset < 32; ++offset) {
      const std::size_t outOffset = (offset * 7 + static_cast<std::size_t>(trial)) % 64;
      // Exactly as long as the text, so that a sanitizer build catches any read past its end.
      std::vector<char16_t> units(offset + text.size());
      std::copy(text.begin(), text.end(), units.begin() + static_cast<std::ptrdiff_t>(offset));
      std::vector<char> out(outOffset + MaxSourceBytes(text.size()) + kGuard, kUntouched);
      const char16_t* first = units.data() + offset;
      char* begin = out.data() + outOffset;
      char* end = EncodeSourceUnitsWith(GetParam(), first, first + text.size(), begin);
      ASSERT_EQ(std::string(begin, end), expected)
          << "trial " << trial << ", offset " << offset << ", " << text.size() << " units";
      // Bytes past the end may be scratch within the room, but nothing outside it is touched.
      char* roomEnd = begin + MaxSourceBytes(text.size());
      ASSERT_TRUE(std::all_of(out.data(), begin, [](char c) { return c == kUntouched; }));
      ASSERT_TRUE(
          std::all_of(roomEnd, out.data() + out.size(), [](char c) { return c == kUntouched; }))
          << "trial " << trial << ", offset " << offset << ", " << text.size() << " units";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Available, SourceEncoderTest,
                         ::testing::ValuesIn(AvailableSourceEncoders()),
                         [](const auto& info) { return SourceEncoderName(info.param); });

TEST(FingerprintTest, AppendSourceBytesKeepsWhatIsThere) {
  std::mt19937 random(7);
  const std::u16string text = AdversarialText(random, 200, 50);
  std::string bytes = "prefix";
  AppendSourceBytes(text, bytes);
  EXPECT_EQ(bytes, "prefix" + ReferenceBytes(text));
}

struct TPieceCase {
  const char* Name;
  std::size_t Length;
  unsigned AsciiShare;
};

void PrintTo(const TPieceCase& c, std::ostream* os) { *os << c.Name; }

class HashSourcePieceTest : public ::testing::TestWithParam<TPieceCase> {};

// HashSource encodes 4096 units at a time; texts around multiples of that, with units of every
// length falling on the boundaries, must hash as their whole bytes do.
TEST_P(HashSourcePieceTest, DigestEqualsHashOfWholeBytes) {
  const TPieceCase& c = GetParam();
  std::mt19937 random(static_cast<unsigned>(c.Length));
  std::u16string text = AdversarialText(random, c.Length, c.AsciiShare);
  for (std::size_t boundary = 4096; boundary < text.size() + 2; boundary += 4096) {
    // A three-byte unit just before the boundary and a two-byte one just after.
    if (boundary - 1 < text.size()) text[boundary - 1] = 0xD83D;
    if (boundary < text.size()) text[boundary] = 0x00E9;
  }
  TLbSHA1 hash;
  hash.HashString(ReferenceBytes(text));
  TDigest expected;
  hash.GetDigest(expected);
  EXPECT_EQ(Fingerprint(text), DigestToHex(expected.data(), 20));
}

INSTANTIATE_TEST_SUITE_P(Boundaries, HashSourcePieceTest,
                         ::testing::Values(TPieceCase{"OneShortOfPiece", 4095, 100},
                                           TPieceCase{"OnePiece", 4096, 100},
                                           TPieceCase{"OnePieceAndOne", 4097, 100},
                                           TPieceCase{"TwoPiecesMixed", 8192, 60},
                                           TPieceCase{"TwoPiecesAndOneMixed", 8193, 60},
                                           TPieceCase{"ThreePiecesAndOneThreeByte", 12289, 0},
                                           TPieceCase{"ManyPiecesAscii", 5 * 4096 + 100, 100}),
                         [](const auto& info) { return info.param.Name; });

TEST(DigestToHexTest, TwoCapitalDigitsPerByte) {
  const std::uint8_t bytes[] = {0x06, 0x00, 0xAB, 0xFF, 0x10};
  EXPECT_EQ(DigestToHex(bytes, 5), "0600ABFF10");
  EXPECT_EQ(DigestToHex(bytes, 0), "");
  EXPECT_EQ(DigestToHex(bytes, -3), "");
}

}  // namespace
}  // namespace pairsweep::scan
