// Test helper: converts readable UTF-8 expectations to the Shift_JIS bytes the program emits.
#pragma once

#include <string>
#include <string_view>

namespace shelfra::testing {

// UTF-8 to Shift_JIS (cp932); aborts the test on a character without a Shift_JIS form.
std::string Sjis(std::string_view utf8);
// Shift_JIS (cp932) to UTF-8, for readable failure messages; undecodable bytes become "?".
std::string Utf8(std::string_view sjis);

}  // namespace shelfra::testing
