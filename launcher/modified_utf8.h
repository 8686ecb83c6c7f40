// Conversion of native argument bytes into the string form JNI reads.
#pragma once

#include <string>
#include <string_view>

namespace vorlane {

/// Converts bytes meant as UTF-8 into JNI's modified UTF-8, so that
/// `NewStringUTF` builds the same characters: valid 1- to 3-byte sequences
/// stay as they are, a 4-byte sequence becomes its UTF-16 surrogate pair (two
/// 3-byte sequences), a 0 byte becomes C0 80, and every byte that is not part
/// of a valid sequence (stray continuation, overlong form, encoded surrogate,
/// truncated sequence, F5-FF) becomes U+FFFD. Nothing is dropped.
std::string to_modified_utf8(std::string_view bytes);

}  // namespace vorlane
