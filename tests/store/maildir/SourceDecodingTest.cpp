#include <gtest/gtest.h>

#include <random>
#include <string>

#include "store/maildir/SourceDecoding.h"

namespace pairsweep::store::maildir {
namespace {

// The inverse that the decoding promises: a surrogate pair as its four UTF-8 bytes, U+DC80 to
// U+DCFF as the byte it stands for, every other code unit as UTF-8.
std::string Reencode(const std::u16string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[++i] - 0xDC00);
      bytes += static_cast<char>(0xF0 | (u >> 18));
      bytes += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
      bytes += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      bytes += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      bytes += static_cast<char>(u - 0xDC00);
    } else if (u < 0x80) {
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

struct TCase {
  const char* Name;
  std::string Bytes;
  std::u16string Text;
};

class KnownAnswer : public ::testing::TestWithParam<TCase> {};

TEST_P(KnownAnswer, DecodesToExpectedText) {
  EXPECT_EQ(DecodeSource(GetParam().Bytes), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    SourceDecoding, KnownAnswer,
    ::testing::Values(TCase{"Ascii", "Subject: hi\r\n\r\nbody\r\n", u"Subject: hi\r\n\r\nbody\r\n"},
                      TCase{"Nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
                      TCase{"TwoByte", "\xC3\xA9", u"\u00E9"},
                      TCase{"ThreeByte", "\xE2\x82\xAC", u"\u20AC"},
                      TCase{"FourByteIsASurrogatePair", "\xF0\x9F\x98\x80", u"\U0001F600"},
                      TCase{"HighestCodePoint", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
                      TCase{"LoneContinuation", "\x80", u"\xDC80"},
                      TCase{"Latin1Byte", "caf\xE9!", u"caf\xDCE9!"},
                      TCase{"OverlongSlash", "\xC0\xAF", u"\xDCC0\xDCAF"},
                      TCase{"OverlongThreeByte", "\xE0\x80\xAF", u"\xDCE0\xDC80\xDCAF"},
                      TCase{"OverlongFourByte", "\xF0\x8F\xBF\xBF", u"\xDCF0\xDC8F\xDCBF\xDCBF"},
                      // Three bytes that would mean U+DC80 if encoded surrogates were accepted:
                      // they must not give the same text as the single byte 0x80.
                      TCase{"EncodedSurrogate", "\xED\xB2\x80", u"\xDCED\xDCB2\xDC80"},
                      TCase{"AboveUnicode", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
                      TCase{"NeverALeadByte", "\xF5\xFF\xFE", u"\xDCF5\xDCFF\xDCFE"},
                      TCase{"CutShortAtEnd", "ab\xE2\x82", u"ab\xDCE2\xDC82"},
                      TCase{"CutShortByAscii", "\xF0\x9F\x98Z", u"\xDCF0\xDC9F\xDC98Z"},
                      TCase{"MultiByteInsideASixteenByteBlock",
                            "abc\xC3\xA9"
                            "defghijklmnopqrstuvwxyz\xE2\x82\xAC",
                            u"abc\u00E9defghijklmnopqrstuvwxyz\u20AC"},
                      TCase{"SixteenAsciiThenMultiByte", "0123456789abcdef\xC3\xA9",
                            u"0123456789abcdef\u00E9"}),
    [](const ::testing::TestParamInfo<TCase>& info) { return std::string(info.param.Name); });

// Decoding is injective exactly when re-encoding gives the bytes back, for every input.
TEST(SourceDecoding, EveryByteStringComesBackFromItsText) {
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const std::string bytes{static_cast<char>(a), static_cast<char>(b)};
      ASSERT_EQ(Reencode(DecodeSource(bytes)), bytes) << a << " " << b;
    }
  }
  // Longer strings drawn mostly from the bytes where UTF-8 has its boundaries.
  const unsigned char alphabet[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                    0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0,
                                    0xE1, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
  std::mt19937 random(4);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 1);
  for (int round = 0; round < 200000; ++round) {
    std::string bytes(1 + round % 24, '\0');
    for (char& byte : bytes) byte = static_cast<char>(alphabet[pick(random)]);
    ASSERT_EQ(Reencode(DecodeSource(bytes)), bytes) << round;
  }
}

// A file is read in pieces; a sequence cut by a piece boundary must decode as if whole.
TEST(SourceDecoding, PieceByPieceEqualsWhole) {
  const std::string bytes =
      "0123456789abcdef\xF0\x9F\x98\x80-\xE2\x82\xAC-\xC3\xA9-\xE2\x82-\xF4\x90\x80\x80-"
      "\xED\xB2\x80-\xF0\x9F\x98";
  const std::u16string whole = DecodeSource(bytes);
  for (std::size_t pieceSize = 1; pieceSize <= bytes.size(); ++pieceSize) {
    std::u16string text;
    std::string pending;
    for (std::size_t at = 0; at < bytes.size(); at += pieceSize) {
      pending += bytes.substr(at, pieceSize);
      const std::size_t used = AppendDecodedSource(pending, false, text);
      ASSERT_LE(pending.size() - used, 3u);
      pending.erase(0, used);
    }
    AppendDecodedSource(pending, true, text);
    ASSERT_EQ(text, whole) << "pieces of " << pieceSize;
  }
}

}  // namespace
}  // namespace pairsweep::store::maildir
