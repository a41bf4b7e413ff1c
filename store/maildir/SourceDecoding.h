// How a message file's bytes become its source text.
//
// The decoding is injective: no two different byte strings give the same text, so two messages
// are equal as texts exactly when their files are equal byte for byte. Valid UTF-8 becomes UTF-16
// (a four-byte sequence a surrogate pair); every byte that does not belong to a valid UTF-8
// sequence becomes the lone surrogate U+DC00 + byte (U+DC80 to U+DCFF). Valid UTF-8 never yields
// a lone surrogate, so the text tells both kinds apart, and re-encoding it (a surrogate pair as
// four bytes, U+DC80 to U+DCFF as its byte, anything else as UTF-8) gives back the bytes. An
// ASCII file, or valid UTF-8 inside the Basic Multilingual Plane, is thus exported byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pairsweep::store::maildir {

// Appends the text of `bytes` to `text` and returns how many bytes it consumed. When `final` is
// false, a trailing UTF-8 sequence that may yet be completed by the bytes that follow (at most
// three bytes) is left unconsumed: the caller passes it again in front of the next piece. When
// `final` is true every byte is consumed. Decoding a file piece by piece this way gives the same
// text as decoding it whole.
std::size_t AppendDecodedSource(std::string_view bytes, bool final, std::u16string& text);

// The text of a whole byte string.
std::u16string DecodeSource(std::string_view bytes);

}  // namespace pairsweep::store::maildir
