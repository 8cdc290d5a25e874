// Building EDBEngineError messages from a status and its context entries.
#include "data/engine_error.h"

#include <algorithm>
#include <string_view>

#include "base/format.h"
#include "data_res.h"

namespace shelfra {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

void AddLine(std::vector<std::string>& lines, std::string_view text) {
  text = Trim(text);
  if (text.empty()) return;
  if (std::find(lines.begin(), lines.end(), text) != lines.end()) return;
  lines.emplace_back(text);
}

}  // namespace

std::string EngineStatusText(uint16_t code) {
  switch (code) {
    case kStatusSyntaxError:
      return std::string(res::data::kSqlSyntaxError);
    case kStatusUnterminatedText:
      return std::string(res::data::kSqlUnterminatedText);
    case kStatusUnknownField:
      return std::string(res::data::kSqlUnknownField);
    case kStatusTypeMismatch:
      return std::string(res::data::kSqlTypeMismatch);
    case kStatusUnsupported:
      return std::string(res::data::kSqlUnsupported);
    case kStatusParamUnbound:
      return std::string(res::data::kSqlParamUnbound);
    case kStatusUnsupportedTableType:
      return std::string(res::data::kUnsupportedTableType);
    default:
      return {};
  }
}

TDBError EngineContext(uint16_t code, std::string text) { return TDBError{code, 0, std::move(text)}; }

void RaiseEngineError(uint16_t code, std::vector<TDBError> context) {
  std::vector<std::string> lines;
  AddLine(lines, EngineStatusText(code));
  for (const TDBError& entry : context) AddLine(lines, entry.message);
  std::string message;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) message += "\r\n";
    message += lines[i];
  }
  if (message.empty()) message = Format(res::data::kEngineErrorCode, {static_cast<int>(code)});
  throw EDBEngineError(code, std::move(message), std::move(context));
}

}  // namespace shelfra
