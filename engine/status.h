// The engine's status codes and the status value that every engine call able to fail returns.
// The engine holds no message texts: a status names the fault and what it concerns, and the
// dataset layer turns it into the exception and message a visitor sees.
#pragma once

#include <cstdint>
#include <string>

namespace shelfra {

// Status codes (0 is success), grouped by what failed.
enum EngineCode : uint16_t {
  kStatusOk = 0,
  // A statement or filter.
  kStatusSyntaxError = 0x2101,
  kStatusUnterminatedText = 0x2102,
  kStatusUnknownField = 0x2103,
  kStatusTypeMismatch = 0x2104,
  kStatusUnsupported = 0x2105,
  kStatusParamUnbound = 0x2106,
  kStatusUnsupportedTableType = 0x2107,
  // A table file.
  kStatusTableNotFound = 0x2201,
  kStatusTableUnreadable = 0x2202,
  kStatusTableCorrupt = 0x2301,
  kStatusTableChanged = 0x2302,
  // The host configuration.
  kStatusConfigMissing = 0x2C01,
  kStatusAliasUnknown = 0x2C02,
  kStatusAliasDirectory = 0x2C03,
};

// Which fault a failed status reports; with the code it picks the message. The fields of
// EngineStatus that each fault fills are given after it.
enum class EngineFault : uint8_t {
  kNone,
  kStatement,              // subject: the token as written (empty with at_end); first: line; second: column
  kTableType,              // subject: the table as named
  kTableNotFound,          // subject: the file
  kTableUnreadable,        // subject: the file
  kTableTruncated,         // subject: the file; first: its size
  kTableNoTerminator,      // subject: the file; first: the header length
  kTableNoFields,          // subject: the file
  kTableBadFieldLength,    // subject: the file; name: the field; first: its length
  kTableFieldPastRecord,   // subject: the file; name: the field; first: the record length
  kTableRecordsMissing,    // subject: the file; first: records counted in the header; second: present
  kTableChanged,           // subject: the file
  kConfigMissing,          // subject: the configuration file
  kAliasUnknown,           // subject: the configuration file; name: the alias
  kAliasDirectoryMissing,  // subject: the directory; name: the alias
  kAliasDirectoryUnreadable,  // subject: the directory; name: the alias
};

struct [[nodiscard]] EngineStatus {
  uint16_t code = kStatusOk;
  EngineFault fault = EngineFault::kNone;
  int native_error = 0;  // the system's errno where the system refused, else 0
  std::string subject;
  std::string name;
  int64_t first = 0;
  int64_t second = 0;
  bool at_end = false;  // kStatement: the fault lies at the end of the text

  bool Ok() const { return code == kStatusOk; }

  // A status of a file-level fault: `code` and `fault` about `subject`.
  static EngineStatus About(uint16_t code, EngineFault fault, std::string subject, int native_error = 0) {
    EngineStatus s;
    s.code = code;
    s.fault = fault;
    s.subject = std::move(subject);
    s.native_error = native_error;
    return s;
  }
};

}  // namespace shelfra
