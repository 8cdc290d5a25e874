// The one place where a failed engine status becomes the dataset layer's EDBEngineError.
#pragma once

#include "data/db_errors.h"
#include "engine/status.h"

namespace shelfra {

// Returns when `status` is Ok; otherwise raises EDBEngineError with the status's code and
// the message of its fault:
//   a statement fault: the code's text, then "token: <token>" and "line: n, column: m" as
//     context entries, joined by CR LF (an unknown code: the generic engine error with the
//     code in four hexadecimal digits);
//   a table type fault: the code's text, then "table: <name>";
//   a table file or host configuration fault: one line naming the file, directory or alias,
//     also kept as the one context entry with the system's error number.
void CheckEngine(const EngineStatus& status);

// CheckEngine for a status known to have failed.
[[noreturn]] void RaiseEngineError(const EngineStatus& status);

}  // namespace shelfra
