// SqlLexer: splits a statement or filter text into tokens, keeping each token's offset so
// that errors can say where they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/status.h"

namespace shelfra {

struct SqlToken {
  enum class Kind { kEnd, kName, kBracketName, kText, kNumber, kParam, kSymbol, kBad };
  Kind kind = Kind::kEnd;
  uint16_t error = 0;  // kBad: the engine status to raise when the parser reaches it
  std::string value;  // kName/kBracketName: the name; kText: the constant, doubled quotes made one
  size_t offset = 0;  // first byte of the token in the text
  size_t length = 0;  // bytes of the token as written
};

// Names are runs of ASCII letters, digits, "_", double-byte characters and half-width
// katakana (not starting with a digit); "[...]" holds any other name. Text constants stand in
// double or single quotes, a doubled quote inside standing for one. Symbols: ( ) , ; * . + -
// = <> != < > <= >=. "?" is a parameter placeholder.
class SqlLexer {
 public:
  // The tokens, ending with kEnd. An unterminated constant or name, or a byte that starts no
  // token, becomes a kBad token (followed by kEnd), so that the parser reports errors in
  // text order.
  static std::vector<SqlToken> Tokenize(std::string_view text);
};

// The position of byte `offset` for messages: line and column, both from 1.
void SqlPosition(std::string_view text, size_t offset, int& line, int& column);

// The status `code` naming `token` of `text` (its first line) and where it stands.
EngineStatus SqlError(uint16_t code, std::string_view text, const SqlToken& token);

// Unwinds the parser and the condition binder from deep inside their recursion to their
// public entry, which returns the status. Never leaves the engine.
struct SqlFailure {
  EngineStatus status;
};

}  // namespace shelfra
