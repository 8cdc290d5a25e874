// Test helper: builds the bytes of a small dBase III table (.DBF), every header byte in reach.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace shelfra::testing {

// Usage:
//   DbfBuilder b;
//   b.AddField(Sjis("登録番号"), 'N', 8).AddField(Sjis("書名"), 'C', 40).AddField("D1", 'D', 8);
//   b.AddRecord({"123", Sjis("吾輩は猫である"), "20040315"});
//   b.AddRecord({"124", "", ""}, /*deleted=*/true);
//   b.WriteTo(path);
//
// Layout written (all numbers little-endian):
//   0      version (0x03)              1-3  date of last update (24 01 01)
//   4-7    record count                8-9  header length: 32 + 32 * fields + 1
//   10-11  record length: 1 + the field lengths
//   29     language byte (0x00)        the other bytes of the first 32 are zero
//   32...  one 32-byte descriptor per field: name (11 bytes, zero-padded), type (byte 11),
//          length (16), decimals (17), flags (18, Visual FoxPro: 0x01 system, 0x02 nullable);
//          a 'C' field longer than 255 stores the high byte of its length in byte 17
//   then   the terminator 0x0D; the records (deletion flag ' ' or '*', then the values); the end
//          mark 0x1A
// Each Set... override replaces one computed value; the rest stays computed.
// The `bytes` low bytes of `value`, lowest first: the binary values of I, B, Y and T fields
// (LittleEndian(std::bit_cast<uint64_t>(0.25), 8) for a B field holding 0.25).
std::string LittleEndian(uint64_t value, int bytes);

class DbfBuilder {
 public:
  // Adds a field. `name` is written as given (bytes, at most 11).
  DbfBuilder& AddField(std::string_view name, char type, int length, int decimals = 0, uint8_t flags = 0);
  // Adds a record of one value per field, formatted for the field: 'N' and 'F' right-aligned
  // with blanks in front, every other type left-aligned with blanks after. A value longer than
  // its field fails the test and is cut. Missing trailing values are blank.
  DbfBuilder& AddRecord(const std::vector<std::string>& values, bool deleted = false);
  // Adds a record whose bytes (deletion flag included) are written exactly as given.
  DbfBuilder& AddRawRecord(std::string bytes);

  DbfBuilder& SetVersion(uint8_t version) { version_ = version; return *this; }
  DbfBuilder& SetLanguageDriver(uint8_t language) { language_ = language; return *this; }
  DbfBuilder& SetRecordCount(uint32_t count) { record_count_ = count; return *this; }
  DbfBuilder& SetHeaderLength(uint16_t length) { header_length_ = length; return *this; }
  DbfBuilder& SetRecordLength(uint16_t length) { record_length_ = length; return *this; }
  // The bytes written between the last descriptor and the header length (default "\x0D");
  // the header length then grows or shrinks with them unless it is set.
  DbfBuilder& SetTerminator(std::string bytes) { terminator_ = std::move(bytes); return *this; }
  // The bytes written after the last record (default "\x1A"; empty for none).
  DbfBuilder& SetEndMark(std::string bytes) { end_mark_ = std::move(bytes); return *this; }

  // The record length as computed or set.
  uint16_t RecordLength() const;
  // The whole file. Requires: the fields were added before the records.
  std::string Bytes() const;
  // Writes Bytes() to `path`, replacing the file; fails the test when it cannot.
  void WriteTo(const std::string& path) const;

 private:
  struct Field {
    std::string name;
    char type;
    int length;
    int decimals;
    uint8_t flags;
  };
  std::vector<Field> fields_;
  std::vector<std::string> records_;  // each as written
  uint8_t version_ = 0x03;
  uint8_t language_ = 0x00;
  std::optional<uint32_t> record_count_;
  std::optional<uint16_t> header_length_;
  std::optional<uint16_t> record_length_;
  std::string terminator_ = "\x0D";
  std::string end_mark_ = "\x1A";
};

}  // namespace shelfra::testing
