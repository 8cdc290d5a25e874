// Field splitting and escape decoding shared by the query string and template tag parameters.
#pragma once

#include <string>
#include <string_view>

#include "base/strings.h"

namespace shelfra {

// Appends the entries of `text` to `list`. `text` ends at its end or at a zero byte.
// Entries are separated by a byte of `separators` (or CR, LF); bytes of `white_space`, CR and
// LF before an entry are skipped. A double-quoted run keeps separators; a quote that opens an
// entry is dropped together with its closing quote, while a quoted run later in an entry keeps
// its quotes and ends the entry at the byte after the closing quote (that byte is consumed).
// Empty entries are not added. With `decode`, each entry goes through DecodeEscapes (name, "="
// and value together); with `remove_quotes`, every '"' and '\'' is then deleted from it.
// A quote without a closing one takes the rest of the text.
void SplitFields(std::string_view separators, std::string_view white_space, std::string_view text, TStrings& list,
                 bool decode, bool remove_quotes);

// "+" becomes a space, "%%" one "%", "%XY" (two hexadecimal digits) the byte XY; every other
// byte is copied. Raises EConvertError "'$XY' is no integer" for a "%" not followed by two
// hexadecimal digits (fewer than two bytes left counts as malformed too).
std::string DecodeEscapes(std::string_view text);

}  // namespace shelfra
