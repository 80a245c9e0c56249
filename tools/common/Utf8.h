#pragma once
// UTF-8 well-formedness, for the escapes that let printer texts through to terminals and
// JSON readers only when they are real text.
//
// Threading: none; pure functions.
#include <cstddef>
#include <string_view>

namespace utf8
{

// Length of a well-formed UTF-8 sequence at text[i] (1 for ASCII), or 0 when the bytes
// there are not one (overlong forms, surrogates and values above U+10FFFF included).
std::size_t SequenceLength(std::string_view text, std::size_t i);

} // namespace utf8
