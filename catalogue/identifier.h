// Identifiers a visitor may type into the one search box: a registration number or an ISBN
// (ISBN-10 or ISBN-13, with or without hyphens), and the one form both ISBNs of a book share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace shelfra {

// The registration number `word` is: ASCII digits (at most 12, zeros in front ignored) of a
// number the field's ten digits can hold and an int32_t too (at most 2147483647); nothing for
// any other text.
std::optional<int32_t> RegistrationNumberWord(std::string_view word);

// The form in which the ISBN-10 and the ISBN-13 of one book are the same text: `text` without
// its ASCII hyphens and blanks, a lower-case "x" made "X", and a valid ISBN-10 (check digit
// right) written as its ISBN-13 ("978", its first nine digits, the ISBN-13 check digit). An
// ISBN with a wrong check digit keeps its digits, so it still equals itself as typed.
std::string IsbnKey(std::string_view text);

// True when `word` has the shape of an ISBN: after IsbnKey, thirteen digits, or nine digits
// and a tenth digit or "X".
bool IsIsbnWord(std::string_view word);

}  // namespace shelfra
