// Errors of the data layer: EDatabaseError for the dataset layer's own errors, and
// EDBEngineError for a failed engine status, keeping the engine's error entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/exceptions.h"

namespace shelfra {

SHELFRA_EXCEPTION_CLASS(EDatabaseError, Exception);

// One entry of an engine error's context.
struct TDBError {
  uint16_t error_code = 0;
  int32_t native_error = 0;
  std::string message;
};

class EDBEngineError : public EDatabaseError {
 public:
  // `message` is the whole text shown on the 500 page; `entries` the engine's context.
  EDBEngineError(uint16_t code, std::string message, std::vector<TDBError> entries = {})
      : EDatabaseError(std::move(message)), code_(code), entries_(std::move(entries)) {}
  std::string_view ClassName() const override { return "EDBEngineError"; }
  uint16_t ErrorCode() const { return code_; }
  const std::vector<TDBError>& Errors() const { return entries_; }

 private:
  uint16_t code_;
  std::vector<TDBError> entries_;
};

}  // namespace shelfra
