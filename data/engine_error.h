// Engine status codes and the one place where a failed engine status becomes EDBEngineError.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/db_errors.h"

namespace shelfra {

// Status codes of the statement engine (0 is success).
enum EngineStatus : uint16_t {
  kStatusOk = 0,
  kStatusSyntaxError = 0x2101,
  kStatusUnterminatedText = 0x2102,
  kStatusUnknownField = 0x2103,
  kStatusTypeMismatch = 0x2104,
  kStatusUnsupported = 0x2105,
  kStatusParamUnbound = 0x2106,
  kStatusUnsupportedTableType = 0x2107,
};

// The engine's text for `code`; empty for a code it has no text for.
std::string EngineStatusText(uint16_t code);

// Raises EDBEngineError for `code`. The message is the code's text, then the text of each
// context entry, joined by CR LF without a final line break; lines already present and empty
// lines are left out. With no line at all the message is the generic engine error with the
// code in four hexadecimal digits. The exception keeps every entry.
[[noreturn]] void RaiseEngineError(uint16_t code, std::vector<TDBError> context = {});

// A context entry holding `text` under `code`.
TDBError EngineContext(uint16_t code, std::string text);

}  // namespace shelfra
