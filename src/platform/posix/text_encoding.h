// Conversions between UTF-16 and byte encodings at the edges of the POSIX layer
// (file contents, file names, socket addresses).
#pragma once

#include <string>
#include <string_view>

namespace psrl::platform::posix {

// UTF-8 to UTF-16. Each byte that does not start or continue a valid sequence
// (including overlong forms, surrogates and values above U+10FFFF) reads as U+FFFD.
std::u16string DecodeUtf8(std::string_view bytes);

// UTF-16 to UTF-8. A lone surrogate is written as `loneSurrogate`, or, when that is
// empty, as its own three-byte form (WTF-8), so that every UTF-16 text has a distinct
// byte form.
std::string EncodeUtf8(std::u16string_view text, std::string_view loneSurrogate = {});

}  // namespace psrl::platform::posix
