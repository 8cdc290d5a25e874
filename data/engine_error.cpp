// Turning engine statuses into EDBEngineError with the texts a visitor sees.
#include "data/engine_error.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "base/format.h"
#include "data_res.h"

namespace shelfra {

namespace {

namespace r = res::data;

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

std::string_view CodeText(uint16_t code) {
  switch (code) {
    case kStatusSyntaxError: return r::kSqlSyntaxError;
    case kStatusUnterminatedText: return r::kSqlUnterminatedText;
    case kStatusUnknownField: return r::kSqlUnknownField;
    case kStatusTypeMismatch: return r::kSqlTypeMismatch;
    case kStatusUnsupported: return r::kSqlUnsupported;
    case kStatusParamUnbound: return r::kSqlParamUnbound;
    case kStatusUnsupportedTableType: return r::kUnsupportedTableType;
    default: return {};
  }
}

// The code's text and the context lines, CR LF between them; lines already present and empty
// lines are left out. The exception keeps every entry.
[[noreturn]] void RaiseWithContext(uint16_t code, std::vector<TDBError> context) {
  std::vector<std::string> lines;
  AddLine(lines, CodeText(code));
  for (const TDBError& entry : context) AddLine(lines, entry.message);
  std::string message;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) message += "\r\n";
    message += lines[i];
  }
  if (message.empty()) message = Format(r::kEngineErrorCode, {static_cast<int>(code)});
  throw EDBEngineError(code, std::move(message), std::move(context));
}

// The one line of a file-level fault.
std::string FileFaultText(const EngineStatus& s) {
  const long long first = s.first;
  const long long second = s.second;
  switch (s.fault) {
    case EngineFault::kTableNotFound: return Format(r::kDbfNotFound, {s.subject});
    case EngineFault::kTableUnreadable: return Format(r::kDbfUnreadable, {s.subject});
    case EngineFault::kTableTruncated: return Format(r::kDbfTruncated, {s.subject, first});
    case EngineFault::kTableNoTerminator: return Format(r::kDbfNoTerminator, {s.subject, first});
    case EngineFault::kTableNoFields: return Format(r::kDbfNoFields, {s.subject});
    case EngineFault::kTableBadFieldLength: return Format(r::kDbfBadFieldLength, {s.subject, s.name, first});
    case EngineFault::kTableFieldPastRecord: return Format(r::kDbfFieldPastRecord, {s.subject, s.name, first});
    case EngineFault::kTableRecordsMissing: return Format(r::kDbfRecordsMissing, {s.subject, first, second});
    case EngineFault::kTableChanged: return Format(r::kDbfChanged, {s.subject});
    case EngineFault::kConfigMissing: return Format(r::kHostConfigMissing, {s.subject});
    case EngineFault::kAliasUnknown: return Format(r::kHostAliasUnknown, {s.name, s.subject});
    case EngineFault::kAliasDirectoryMissing: return Format(r::kHostAliasDirMissing, {s.name, s.subject});
    case EngineFault::kAliasDirectoryUnreadable: return Format(r::kHostAliasDirUnreadable, {s.name, s.subject});
    default: return {};
  }
}

}  // namespace

void CheckEngine(const EngineStatus& status) {
  if (!status.Ok()) RaiseEngineError(status);
}

void RaiseEngineError(const EngineStatus& s) {
  switch (s.fault) {
    case EngineFault::kNone:
      RaiseWithContext(s.code, {});
    case EngineFault::kStatement: {
      const std::string shown = s.at_end ? std::string(r::kSqlEndOfText) : s.subject;
      const long long line = s.first;
      const long long column = s.second;
      RaiseWithContext(s.code, {TDBError{s.code, 0, Format(r::kSqlContextToken, {shown})},
                                TDBError{s.code, 0, Format(r::kSqlContextPosition, {line, column})}});
    }
    case EngineFault::kTableType:
      RaiseWithContext(s.code, {TDBError{s.code, 0, Format(r::kContextTable, {s.subject})}});
    default: {
      std::string message = FileFaultText(s);
      std::vector<TDBError> entries{TDBError{s.code, s.native_error, message}};
      throw EDBEngineError(s.code, std::move(message), std::move(entries));
    }
  }
}

}  // namespace shelfra
